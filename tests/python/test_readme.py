"""The README's tour and every example of the documentation run, and print what they show.

- README.md: the python blocks of the tour run in order, in one namespace, and each
  `tessarin ...` command of its sh blocks succeeds.
- docs/: the ```pycon blocks of each page run as one doctest (in order, in one namespace)
  whose printed output must match the page; each `$ tessarin ...` line of a ```console block
  runs, and its output must match the lines under it ("..." stands for any text).
"""

import doctest
import importlib.util
import re
import shlex
import shutil
from pathlib import Path

import pytest

from conftest import run_cli

ROOT = Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
HEADING = "## A short tour"
# Examples that use an optional extra, found by what they call.
EXTRAS = {"pandas": re.compile(r"to_frame|risk_frame|cashflow_frames|Book|revalue|pandas"),
          "matplotlib": re.compile(r"\.plot|plot_")}
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


def fenced(text, language):
    return re.findall(rf"^```{language}\n(.*?)^```", text, flags=re.MULTILINE | re.DOTALL)


def tour_blocks(language):
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    start = text.index(HEADING)
    end = text.find("\n## ", start + len(HEADING))
    return fenced(text[start:] if end < 0 else text[start:end], language)


def pages():
    return sorted(p for p in DOCS.rglob("*.md")
                  if not {"_build", "_generated"} & set(p.relative_to(DOCS).parts))


def page_id(page):
    return str(page.relative_to(DOCS))


def missing_extras(text):
    return [name for name, uses in EXTRAS.items()
            if uses.search(text) and importlib.util.find_spec(name) is None]


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_the_tour_has_python_and_command_line_snippets():
    assert tour_blocks("python")
    assert any("tessarin price" in block for block in tour_blocks("sh"))


def test_the_readme_tour_runs_in_order(workdir, capsys):
    namespace = {"__name__": "__readme__"}
    for number, block in enumerate(tour_blocks("python"), 1):
        if missing_extras(block):
            continue
        try:
            exec(compile(block, f"README tour block {number}", "exec"), namespace)
        except Exception as error:
            pytest.fail(f"block {number} failed: {error!r}\n{block}")
    out = capsys.readouterr().out
    assert "<tessarin.YieldCurve 'USD SOFR' USD value date 2026-12-08, 20 pillars>" in out
    assert "par rate 3.300000%" in out


def commands(blocks):
    found = []
    for block in blocks:
        for line in block.splitlines():
            line = line.split("#")[0].strip()
            if line.startswith("tessarin "):
                found.append(line)
    return found


def check_command_output(result, expected):
    # Curves out to 30 years read past the built-in holiday lists, and say so; one CSV table
    # notes where the others are.
    if "tessarin: error:" in expected:
        assert result.returncode == 2, result.stderr
        shown = result.stderr
    else:
        assert result.returncode == 0, result.stderr
        assert all(line.startswith(("tessarin: warning: calendar ", "tessarin: note: wrote the "))
                   for line in result.stderr.splitlines())
        shown = result.stdout
    assert shown
    if expected.strip():
        checker = doctest.OutputChecker()
        assert checker.check_output(expected, shown, FLAGS), (
            f"expected:\n{expected}\ngot:\n{shown}")


@pytest.mark.parametrize("command", commands(tour_blocks("sh")))
def test_readme_commands_succeed(workdir, command):
    check_command_output(run_cli(*shlex.split(command)[1:]), "")


def console_examples():
    found = []
    for page in pages():
        for block in fenced(page.read_text(encoding="utf-8"), "console"):
            parts = re.split(r"^\$ ", block, flags=re.MULTILINE)[1:]
            for part in parts:
                command, _, expected = part.partition("\n")
                found.append(pytest.param(command, expected,
                                          id=f"{page_id(page)}: {command[:50]}"))
    return found


@pytest.mark.parametrize(("command", "expected"), console_examples())
def test_documented_commands_print_what_the_docs_show(workdir, command, expected):
    assert command.startswith("tessarin ")
    check_command_output(run_cli(*shlex.split(command)[1:]), expected)


# What each page's examples must still show and make, whatever else changes in them: the
# checks of the README's former long tour, now kept in the guides.
PAGE_OUTPUTS = {
    "getting-started.md": ["<tessarin.YieldCurve 'USD SOFR' USD value date 2026-12-08, "
                           "6 pillars>", "par rate 3.300000%"],
    "guides/curves.md": ["<tessarin.YieldCurve 'USD SOFR' USD value date 2026-12-08, "
                         "6 pillars>"],
    "guides/swaps.md": ["2026-06-10 to 2026-12-08", "par rate 3.300000%"],
}
PAGE_FILES = {"guides/curves.md": ["usd_curve.png", "all_curves.png"],
              "guides/risk.md": ["usd_5y_risk.png"]}


@pytest.mark.parametrize("page", [p for p in pages()
                                  if fenced(p.read_text(encoding="utf-8"), "pycon")],
                         ids=page_id)
def test_page_examples_print_what_the_page_shows(workdir, page):
    text = "\n".join(fenced(page.read_text(encoding="utf-8"), "pycon"))
    if missing := missing_extras(text):
        pytest.skip(f"needs {', '.join(missing)}")
    for shown in PAGE_OUTPUTS.get(page_id(page), []):
        assert shown in text
    test = doctest.DocTestParser().get_doctest(text, {"__name__": "__docs__"}, page_id(page),
                                               str(page), 0)
    report = []
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
    assert runner.tries > 0
    for name in PAGE_FILES.get(page_id(page), []):
        assert (workdir / name).read_bytes()[:4] == b"\x89PNG"
