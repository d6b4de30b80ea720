"""Times the `tessarin` command line on large trades files against the same work through
`tessarin.Book`, in one run.

The files are reproducible (the fixed-seed book of benchmarks/book.py, on the example market
and fixings) and written once into --dir as JSON, CSV and Parquet. For each size and format,
`tessarin price MARKET TRADES --fixings F [--risk]`, `tessarin scenarios` and (for CSV)
`tessarin report` run as fresh
processes (wall clock, medians of --repeat runs, output to /dev/null); the baseline is the
same work through the API in this process: read the file, build the curves and the book,
price (and risk) it.

    python benchmarks/cli.py [--sizes 10000 100000] [--repeat 3] [--threads 2]
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from book import EXAMPLES, book_table  # noqa: E402

MARKET, FIXINGS = EXAMPLES / "market.json", EXAMPLES / "fixings.json"


def json_entries(table) -> list[dict]:
    """The table's trades as trades-file entries with a generator."""
    entries = []
    for row in table.itertuples(index=False):
        payer = row.direction == "payer"
        entries.append({
            "id": row.id, "curve": row.curve, "generator": row.generator,
            "effective date": row[3], "termination date": row[4],
            "leg1": {"is paid": payer, "rate": float(row[5]), "notional": float(row.notional)},
            "leg2": {"is paid": not payer, "margin": float(row.margin),
                     "notional": float(row.notional)}})
    return entries


def write_files(folder: Path, count: int) -> dict[str, Path]:
    folder.mkdir(parents=True, exist_ok=True)
    paths = {kind: folder / f"trades_{count}.{kind}" for kind in ("json", "csv", "parquet")}
    if all(p.exists() for p in paths.values()):
        return paths
    table = book_table(count)
    table.to_csv(paths["csv"], index=False)
    table.to_parquet(paths["parquet"], index=False)
    paths["json"].write_text(json.dumps({"trades": json_entries(table)}))
    return paths


def command(argv: list[str]) -> float:
    exe = shutil.which("tessarin") or str(Path(sys.executable).with_name("tessarin"))
    start = time.perf_counter()
    done = subprocess.run([exe, *argv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, check=False)
    elapsed = time.perf_counter() - start
    if done.returncode not in (0, 1):
        raise SystemExit(f"tessarin {' '.join(argv)} failed: {done.stderr.strip()}")
    return elapsed


def api(path: Path, risk: bool, threads: int) -> float:
    import tessarin

    start = time.perf_counter()
    book = tessarin.Book(path, MARKET, FIXINGS, threads=threads)
    book.price()
    if risk:
        book.risk()
    return time.perf_counter() - start


def median(call, repeat: int) -> float:
    return statistics.median(call() for _ in range(repeat))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", type=int, nargs="+", default=[10_000, 100_000])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--dir", type=Path, default=Path("build/cli-bench"))
    args = parser.parse_args()
    import warnings

    from tessarin import CalendarCoverageWarning

    # The example calendars end before the longest trades: said once per build, not news here.
    warnings.simplefilter("ignore", CalendarCoverageWarning)

    print("| trades | file | command | command (s) | API (s) | ratio |")
    print("|---:|---|---|---:|---:|---:|")
    for count in args.sizes:
        paths = write_files(args.dir, count)
        for kind, path in paths.items():
            for risk in (False, True):
                argv = ["price", str(MARKET), str(path), "--fixings", str(FIXINGS),
                        "--threads", str(args.threads)] + (["--risk"] if risk else [])
                cli = median(lambda argv=argv: command(argv), args.repeat)
                base = median(lambda path=path, risk=risk: api(path, risk, args.threads),
                              args.repeat)
                label = "price --risk" if risk else "price"
                print(f"| {count:,} | {kind} | {label} | {cli:.2f} | {base:.2f} | "
                      f"{cli / base:.1f}x |", flush=True)
            argv = ["scenarios", str(MARKET), str(path), "--fixings", str(FIXINGS),
                    "--parallel", "1"]
            try:
                cli = median(lambda argv=argv: command(argv), args.repeat)
            except SystemExit as error:
                print(f"| {count:,} | {kind} | scenarios | {error} | | |", flush=True)
                continue
            print(f"| {count:,} | {kind} | scenarios --parallel 1 | {cli:.2f} | | |", flush=True)
            if kind != "csv":
                continue
            # The HTML report: price and risk, scenarios, charts (target: 10 s at 10,000).
            argv = ["report", str(MARKET), str(path), "--fixings", str(FIXINGS), "--threads",
                    str(args.threads), "--parallel", "-25,25", "-o", str(args.dir / "r.html")]
            cli = median(lambda argv=argv: command(argv), args.repeat)
            base = median(lambda path=path: api(path, True, args.threads), args.repeat)
            print(f"| {count:,} | {kind} | report --parallel -25,25 | {cli:.2f} | {base:.2f} | "
                  f"{cli / base:.1f}x |", flush=True)


if __name__ == "__main__":
    main()
