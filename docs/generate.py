"""Pages made at build time from the library and the repository, never kept by hand.

- the conventions reference, from `tessarin conventions` (the table and its JSON);
- the performance page, from benchmarks/README.md, with one chart per benchmark table
  drawn by matplotlib from the table's own numbers.

Called by conf.py; writes into docs/_generated/.
"""

from __future__ import annotations

import json
import re
import statistics
import subprocess
import sys
from pathlib import Path

DOCS = Path(__file__).resolve().parent
ROOT = DOCS.parent
OUT = DOCS / "_generated"


def _cli(*args: str) -> str:
    result = subprocess.run([sys.executable, "-m", "tessarin", *args], capture_output=True,
                            text=True, check=True)
    return result.stdout


def _md_table(header: list[str], rows: list[list[object]]) -> str:
    def cell(value: object) -> str:
        return str(value).replace("|", "\\|")

    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(cell(v) for v in row) + " |" for row in rows]
    return "\n".join(lines)


def conventions_page() -> str:
    """The conventions reference: the command's own table, then one table per part."""
    table = _cli("conventions")
    listing = json.loads(_cli("conventions", "--format", "json"))
    gens = listing["generators"]
    parts = [
        "# Conventions reference\n",
        "Made when these pages were built, from the library itself (`tessarin conventions` "
        "and `tessarin conventions --format json`). Input files and dicts name these "
        "generators, indices and calendars.\n",
        "## Swap generators\n",
        _md_table(["Generator", "Currency", "Index", "Spot lag", "Calendar", "Frequency",
                   "Day count", "Accrual adj.", "Pay adj.", "Pay lag"],
                  [[g["name"], g["currency"], g["index"], f"{g['start_delay']}BD",
                    g["calendar"], g["frequency"], g["day_count"], g["accrual_adjustment"],
                    g["pay_adjustment"], f"{g['pay_lag']}BD"] for g in gens]),
        "\n## Overnight indices\n",
        _md_table(["Index", "Currency", "Fixing calendar", "Day count"],
                  [[i["name"], i["currency"], i["calendar"], i["day_count"]]
                   for i in listing["indices"]]),
        "\n## Holiday calendars and their coverage\n",
        "Past the last listed year only weekends are holidays, and reading such a date "
        "issues a `tessarin.CalendarCoverageWarning`.\n",
        _md_table(["Calendar", "First year", "Last year", "Weekend", "Description"],
                  [[c["name"], c["first_year"], c["last_year"], ", ".join(c["weekend"]),
                    c["description"]] for c in listing["calendars"]]),
        "\n## The command's output\n",
        "```text\n" + table.rstrip("\n") + "\n```\n",
    ]
    return "\n".join(parts)


# Performance: benchmark tables and their charts.

_NUMBER = re.compile(r"^\(?([0-9][0-9,]*\.?[0-9]*(?:e[-+]?[0-9]+)?)\s*(ns|µs|us|ms|s|x)?\)?"
                     r"(\s*\(.*\))?$")
_SECONDS = {"ns": 1e-9, "µs": 1e-6, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def _value(cell: str) -> tuple[float, bool] | None:
    """A cell's number and whether it is a time (in seconds); None if it holds no number.
    Cells of several runs ("0.875 / 0.953 / ...") give their median."""
    cell = cell.strip().strip("*`").strip()
    if " / " in cell:
        values = [_value(part) for part in cell.split(" / ")]
        if any(v is None for v in values):
            return None
        return statistics.median(v[0] for v in values), values[0][1]  # type: ignore[index]
    match = _NUMBER.match(cell)
    if not match:
        return None
    number, unit = float(match.group(1).replace(",", "")), match.group(2)
    if unit in _SECONDS:
        return number * _SECONDS[unit], True
    return number, False


def _split_row(line: str) -> list[str]:
    return [c.strip() for c in line.strip().strip("|").split("|")]


def _chart(header: list[str], rows: list[list[str]], title: str, path: Path) -> bool:
    """One chart of a table's numeric columns, times if it has any; False if none."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    columns = {}
    for j in range(1, len(header)):
        cells = [row[j] if j < len(row) else "" for row in rows]
        parsed = [_value(c) for c in cells]
        filled = [p for p, c in zip(parsed, cells) if c.strip() not in ("", "—")]
        if filled and all(p is not None for p in filled):
            columns[j] = parsed
    if not columns:
        return False
    times = {j: v for j, v in columns.items() if any(p and p[1] for p in v)}
    chosen = times or columns
    # Among times, a plain number (a ratio, a difference) is not drawn.
    values = {j: [p[0] if p and (p[1] or not times) else float("nan") for p in v]
              for j, v in chosen.items()}
    keep = [i for i in range(len(rows)) if any(v[i] == v[i] for v in values.values())]
    rows = [rows[i] for i in keep]
    values = {j: [v[i] for i in keep] for j, v in values.items()}
    labels = [re.sub(r"[`*]", "", row[0])[:50] for row in rows]
    scale, unit = 1.0, ""
    if times:
        finite = [x for v in values.values() for x in v if x == x and x > 0]
        top = max(finite) if finite else 1.0
        scale, unit = next((s, u) for s, u in ((1.0, "s"), (1e-3, "ms"), (1e-6, "µs"),
                                                (1e-9, "ns")) if top >= s * 10 or s == 1e-9)
    fig, ax = plt.subplots(figsize=(8, 0.45 * len(rows) * max(1, len(chosen) / 2) + 1.5))
    height = 0.8 / len(chosen)
    for k, (j, v) in enumerate(values.items()):
        ax.barh([i + k * height for i in range(len(rows))], [x / scale for x in v],
                height=height, label=re.sub(r"[`*]", "", header[j]))
    ax.set_yticks([i + height * (len(chosen) - 1) / 2 for i in range(len(rows))], labels)
    ax.invert_yaxis()
    finite = [x for v in values.values() for x in v if x == x and x > 0]
    if finite and max(finite) / min(finite) > 30:
        ax.set_xscale("log")
    plain = re.sub(r"[`*]", "", header[0])
    ax.set_xlabel(f"time ({unit}; cells of several runs: their median)" if times else plain)
    ax.set_title(title, fontsize=10)
    if len(chosen) > 1:
        ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return True


def performance_page() -> str:
    """benchmarks/README.md as a page, each benchmark table followed by its chart."""
    lines = (ROOT / "benchmarks" / "README.md").read_text(encoding="utf-8").splitlines()
    out = ["# Performance", "",
           "The benchmarks of `benchmarks/` and their results, as `benchmarks/README.md` "
           "records them; each table of numbers is followed by a chart of it, drawn when "
           "these pages were built.", ""]
    heading, charts, i = "Benchmarks", 0, 1  # the README's own title is replaced
    while i < len(lines):
        line = lines[i]
        if line.startswith("## "):
            heading = line[3:].strip()
        if not line.startswith("|"):
            out.append(line)
            i += 1
            continue
        table = []
        while i < len(lines) and lines[i].startswith("|"):
            table.append(lines[i])
            i += 1
        out += table
        header, rows = _split_row(table[0]), [_split_row(t) for t in table[2:]]
        charts += 1
        name = f"performance-{charts}.png"
        title = re.sub(r'[`*]', '', f"{heading}: {header[0]}")
        if _chart(header, rows, title, OUT / name):
            out += ["", f"![{title}]({name})", ""]
    return "\n".join(out) + "\n"


def _annotation(value: object) -> str:
    import inspect

    return value if isinstance(value, str) else inspect.formatannotation(value)


def _signature(stub: object, method: bool = False) -> str:
    """The stub's signature as autodoc takes it in a directive, without self; "" without a
    stub. Annotations as written in the stub, and "..." for the defaults the stub elides."""
    import inspect

    if stub is None:
        return ""
    target = stub.__init__ if inspect.isclass(stub) else stub  # type: ignore[misc]
    typed = inspect.signature(target)
    parts, slash, star = [], False, False
    for param in typed.parameters.values():
        if param.name == "self" and (method or inspect.isclass(stub)):
            continue
        if param.kind is param.POSITIONAL_ONLY:
            slash = True
        elif slash:
            parts.append("/")
            slash = False
        if param.kind is param.KEYWORD_ONLY and not star:
            parts.append("*")
            star = True
        text = param.name
        if param.annotation is not param.empty:
            text += f": {_annotation(param.annotation)}"
        if param.default is not param.empty:
            default = "..." if param.default is Ellipsis else repr(param.default)
            text += f" = {default}"
        parts.append(text)
    if slash:
        parts.append("/")
    text = f"({', '.join(parts)})"
    if not inspect.isclass(stub) and typed.return_annotation is not typed.empty:
        text += f" -> {_annotation(typed.return_annotation)}"
    return text


def _same_parameters(native: object, stub: object, name: str) -> None:
    """The stub must name the parameters the compiled function declares, when it declares
    them: the reference shows the stub's."""
    import inspect

    try:
        declared = list(inspect.signature(native).parameters)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        return
    if stub is None or list(inspect.signature(stub).parameters) != declared:  # type: ignore[arg-type]
        raise RuntimeError(f"the stub of _tessarin.{name} does not match its parameters "
                           f"{declared}")


def stubs() -> dict:
    """The names of the extension module's type stubs (python/_tessarin-stubs)."""
    path = ROOT / "python" / "_tessarin-stubs" / "__init__.pyi"
    namespace: dict = {"__name__": "_tessarin_stubs"}
    exec(compile(path.read_text(encoding="utf-8"), str(path), "exec"), namespace)
    return namespace


def native_api() -> str:
    """autodoc directives for `_tessarin`, one per public name of its stubs, with the stubs'
    signatures for the types (whose compiled constructors do not carry one)."""
    import inspect

    stubs_ = stubs()
    import _tessarin

    lines = ["```{eval-rst}", ".. automodule:: _tessarin", "   :no-members:", ""]
    for name in sorted(n for n in dir(_tessarin) if not n.startswith("_")):
        stub = stubs_.get(name)
        native = getattr(_tessarin, name)
        if inspect.isclass(native):
            lines += [f".. autoclass:: _tessarin.{name}{_signature(stub, method=True)}",
                      "   :no-members:", ""]
            methods = sorted(m for m in dir(native) if not m.startswith("_"))
            for method in methods:
                typed = _signature(getattr(stub, method, None), method=True)
                lines += [f"   .. automethod:: _tessarin.{name}.{method}{typed}", ""]
        else:
            _same_parameters(native, stub, name)
            lines += [f".. autofunction:: _tessarin.{name}{_signature(stub)}", ""]
    return "\n".join(lines + ["```", ""])


def main() -> None:
    OUT.mkdir(exist_ok=True)
    (OUT / "conventions.md").write_text(conventions_page(), encoding="utf-8")
    (OUT / "native.md").write_text(native_api(), encoding="utf-8")
    (OUT / "performance.md").write_text(performance_page(), encoding="utf-8")


if __name__ == "__main__":
    main()
