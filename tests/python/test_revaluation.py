"""Scenario revaluation: PnL against independent repricing, VaR and ES by hand, failures kept,
and the same numbers whatever the executor and the partitioning."""

import math
import multiprocessing
import os
import signal
import subprocess
import sys

import pytest

import tessarin
from conftest import EXAMPLES
from tessarin import revaluation as rv
from tessarin import scenarios as sc

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

MARKET = tessarin.load_market(EXAMPLES / "market.json")
FIXINGS = tessarin.load_fixings(EXAMPLES / "fixings.json")
TRADES = [rv.BookTrade(t.swap["id"], t.curve, t.swap)
          for t in tessarin.load_trades(EXAMPLES / "trades.json")]
SCENARIOS = sc.parallel([-50, -10, 10, 50]) + sc.key_rate(1, "GBP SONIA")
# The sanitizer run preloads its runtime into every worker process: too slow for a cluster.
needs_cluster = pytest.mark.skipif(bool(os.environ.get("TESSARIN_SANITIZED")),
                                   reason="Dask clusters are not run under the sanitizers")


@pytest.fixture(scope="module")
def local():
    return rv.revalue(TRADES, MARKET, SCENARIOS, FIXINGS)


def same(a, b):
    """Bit for bit: PnL matrix, book, curve and currency totals."""
    assert a.scenarios == b.scenarios and a.trades == b.trades and a.failures == b.failures
    for x, y in ((a.pnl, b.pnl), (a.by_curve, b.by_curve), (a.by_currency, b.by_currency),
                 (a.book.to_frame(), b.book.to_frame())):
        assert np.array_equal(x.to_numpy(), y.to_numpy(), equal_nan=True)


def test_pnl_equals_repricing_on_curves_built_from_the_shocked_quotes(local):
    scenarios = SCENARIOS.resolve(MARKET)
    curves = {c["id"]: c for c in MARKET}
    for s in (0, 3, len(scenarios) - 1):
        scenario = scenarios[s]
        for trade in TRADES[::5]:
            base = tessarin.YieldCurve(curves[trade.curve])
            moved = curves[trade.curve]
            if trade.curve in scenario.quotes:
                moved = dict(moved, instruments=dict(moved["instruments"],
                                                     quote=list(scenario.quotes[trade.curve])))
            swap = tessarin.IRS(trade.swap)
            expected = (swap.price(tessarin.YieldCurve(moved), FIXINGS)["NPV"]
                        - swap.price(base, FIXINGS)["NPV"])
            assert local.pnl.loc[scenario.name, trade.id] == expected
    assert local.book.iloc[0] == math.fsum(local.pnl.iloc[0])


@pytest.mark.parametrize(("scenario_chunk", "trade_chunk", "threads"),
                         [(1, 1, 1), (3, 7, 2), (100, 100, 3), (100, 100, 1)])
def test_partitioning_and_threads_never_change_a_number(local, scenario_chunk, trade_chunk,
                                                        threads):
    same(local, rv.revalue(TRADES, MARKET, SCENARIOS, FIXINGS, scenario_chunk=scenario_chunk,
                           trade_chunk=trade_chunk, threads=threads))


def test_trades_that_cannot_be_priced_fail_alike_on_any_thread_count():
    alone = rv.revalue(TRADES, MARKET, SCENARIOS, None, threads=1)
    assert {f.trade for f in alone.failures} == {"USD seasoned 3Y payer",
                                                 "GBP seasoned 5Y receiver"}
    same(alone, rv.revalue(TRADES, MARKET, SCENARIOS, None, threads=3, trade_chunk=4))


def test_a_process_builds_only_the_trade_chunks_it_prices():
    rows = rv.trade_rows(TRADES)
    payload = (rows, MARKET, FIXINGS, 1, tessarin.calendars.state())
    engines = [rv._engine("run", payload, first, first + 3) for first in (0, 3, 6)]
    assert [e.ids for e in engines] == [rows.ids[f:f + 3] for f in (0, 3, 6)]
    assert set(rv._ENGINES) == {("run", 3, 6), ("run", 6, 9)}
    rv._forget("run")
    assert not rv._ENGINES


def test_var_and_es_by_hand(local):
    names = [f"s{i}" for i in range(10)]
    book = pd.Series([-5.0, 3.0, -1.0, -7.0, 2.0, 0.5, -2.0, 4.0, -3.0, 1.0], index=names)
    frame = book.to_frame("USD")
    result = rv.Revaluation(names, [], [], frame, frame, book)
    # 10 scenarios at 80%: the 2 worst are -7 (s3) and -5 (s0).
    assert list(result.tail(0.8).index) == ["s3", "s0"]
    assert (result.var(0.8), result.es(0.8)) == (5.0, 6.0)
    assert (result.var(0.95, "USD"), result.es(0.95, "USD")) == (7.0, 7.0)
    with pytest.raises(ValueError, match="level must lie between 0 and 1"):
        result.var(1.0)
    with pytest.raises(ValueError, match="the book holds USD, EUR, .*name one with currency="):
        local.var(0.9)
    assert local.var(0.9, "GBP") == -local.by_currency["GBP"].sort_values().iloc[1]


def test_a_curve_that_fails_to_bootstrap_fails_its_trades_and_nothing_else(local):
    # On one thread the broken scenario shares its block of scenarios with a good one.
    broken = sc.absolute({"broken": {"USD SOFR": {"1Y": 250.0}}}) + sc.parallel(
        list(range(10, 80, 10)))
    result = rv.revalue(TRADES, MARKET, broken, FIXINGS, threads=1)
    usd = [t.id for t in TRADES if t.curve == "USD SOFR"]
    others = [t.id for t in TRADES if t.curve != "USD SOFR"]
    assert result.pnl.loc["broken", usd].isna().all()
    assert (result.pnl.loc["broken", others] == 0.0).all()
    assert math.isnan(result.book["broken"])
    assert math.isnan(result.by_curve.loc["broken", "USD SOFR"])
    (failure,) = result.failures
    assert (failure.scenario, failure.curve, failure.trade) == ("broken", "USD SOFR", None)
    assert "bracket" in failure.error
    assert result.pnl.loc["parallel +10bp"].equals(local.pnl.loc["parallel +10bp"])
    with pytest.raises(ValueError, match="1 scenario.* could not be priced .broken"):
        result.var(0.9, "USD")


def test_out_writes_a_parquet_dataset_with_the_same_pnl(local, tmp_path):
    pytest.importorskip("pyarrow")
    result = rv.revalue(TRADES, MARKET, SCENARIOS, FIXINGS, out=tmp_path / "pnl", scenario_chunk=4,
                        trade_chunk=10)
    blocks = math.ceil(len(local.scenarios) / 4) * math.ceil(len(TRADES) / 10)
    assert len(list((tmp_path / "pnl").glob("part-*.parquet"))) == blocks
    same(local, result)


@needs_cluster
def test_dask_gives_the_local_numbers_and_survives_a_killed_worker(local):
    pytest.importorskip("distributed")
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        assert all(w.startswith("tcp://127.0.0.1:") for w in client.scheduler_info()["workers"])
        same(local, rv.revalue(TRADES, MARKET, SCENARIOS, FIXINGS, executor=client,
                               scenario_chunk=5))
        pids = list(client.run(os.getpid).values())
        killed = []

        def kill_one(_):
            if not killed:
                killed.append(pids[0])
                os.kill(pids[0], signal.SIGKILL)

        same(local, rv.revalue(TRADES, MARKET, SCENARIOS, FIXINGS, executor=client,
                               scenario_chunk=1, on_block=kill_one))
        assert killed


@needs_cluster
def test_an_embedded_cluster_is_closed_after_an_interrupt():
    pytest.importorskip("distributed")
    psutil = pytest.importorskip("psutil")
    before = {p.pid for p in psutil.Process().children(recursive=True)}

    def interrupt(_):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        rv.revalue(TRADES, MARKET, SCENARIOS, FIXINGS, executor="dask", workers=1,
                   on_block=interrupt)
    left = [p for p in psutil.Process().children(recursive=True) if p.pid not in before]
    psutil.wait_procs(left, timeout=10)
    assert [p for p in left if p.is_running() and p.status() != psutil.STATUS_ZOMBIE] == []


def test_command_line_prints_var_and_es_per_currency(capsys, tmp_path):
    from tessarin import cli

    args = ["scenarios", str(EXAMPLES / "market.json"), str(EXAMPLES / "trades.json"),
            "--fixings", str(EXAMPLES / "fixings.json"), "--parallel", "-50,-10,10,50",
            "--var", "0.7"]
    assert cli.main(args) == 0
    out = capsys.readouterr().out
    expected = rv.revalue(TRADES, MARKET, sc.parallel([-50, -10, 10, 50]), FIXINGS)
    (usd,) = [line.split() for line in out.splitlines() if line.startswith("USD ")]
    assert usd[2:] == [f"{expected.var(0.7, 'USD'):,.2f}", f"{expected.es(0.7, 'USD'):,.2f}"]

    changes = tmp_path / "changes.csv"
    changes.write_text("date,curve,tenor,change\n2026-12-01,USD SOFR,7W,1.0\n")
    assert cli.main([*args[:5], "--historical", str(changes)]) == 2
    err = capsys.readouterr().err
    assert err == f"tessarin: error: {changes}: line 2: unknown tenor '7W' on USD SOFR " \
                  f"(it has: {', '.join(MARKET[0]['instruments']['tenor'])})\n"


def test_book_revalue_equals_revaluing_its_trades(local, tmp_path):
    rows = [{**entry, "curve": entry["curve"]} for entry in
            __import__("json").loads((EXAMPLES / "trades.json").read_text())["trades"]]
    rows.append({**rows[0], "id": "no curve", "curve": "XXX"})
    book = tessarin.Book(rows, [tessarin.YieldCurve(c) for c in MARKET], FIXINGS, threads=2)
    result = book.revalue(MARKET, SCENARIOS)
    assert np.array_equal(result.pnl.drop(columns="no curve").to_numpy(), local.pnl.to_numpy(),
                          equal_nan=True)
    assert result.pnl["no curve"].isna().all()
    (failure,) = [f for f in result.failures if f.trade == "no curve"]
    assert failure.scenario is None and failure.error == book.errors()["no curve"]


@pytest.mark.parametrize("suffix", [".csv", ".parquet"])
def test_command_line_reads_a_trade_table_as_its_json_twin(capsys, tmp_path, suffix):
    from tessarin import cli

    rows = [{"id": f"T{i}", "curve": curve, "generator": generator,
             "effective date": "2026-12-10", "termination date": f"{2028 + i}-12-10",
             "fixed rate": 0.03, "notional": 1e7, "direction": direction, "margin": 0.0}
            for i, (curve, generator, direction) in enumerate([
                ("USD SOFR", "USD SOFR SW", "payer"), ("EUR ESTR", "EUR ESTR SW", "receiver"),
                ("USD SOFR", "USD SOFR SW", "receiver")])]
    entries = [{"id": r["id"], "curve": r["curve"], "generator": r["generator"],
                "effective date": r["effective date"],
                "termination date": r["termination date"],
                "leg1": {"is paid": r["direction"] == "payer", "rate": r["fixed rate"],
                         "notional": r["notional"]},
                "leg2": {"is paid": r["direction"] != "payer", "margin": r["margin"],
                         "notional": r["notional"]}} for r in rows]
    (tmp_path / "trades.json").write_text(__import__("json").dumps({"trades": entries}))
    table = tmp_path / f"trades{suffix}"
    frame = pd.DataFrame(rows)
    frame.to_csv(table, index=False) if suffix == ".csv" else frame.to_parquet(table)
    outputs = []
    for path in (tmp_path / "trades.json", table):
        assert cli.main(["scenarios", str(EXAMPLES / "market.json"), str(path),
                         "--parallel", "-10,10"]) == 0
        outputs.append(capsys.readouterr().out)
    assert outputs[0] == outputs[1] and "EUR" in outputs[0]


GUARD = 'if __name__ == "__main__":\n'


@pytest.mark.parametrize(("source", "line", "guarded"), [
    ("import tessarin\nrun()\n", 2, False),
    (GUARD + "    run()\n", 2, True),
    ('if "__main__" == __name__:\n    run()\n', 2, True),
    ("def main():\n    run()\nmain()\n", 3, False),
    ("def main():\n    run()\n" + GUARD + "    main()\n", 4, True),
    (GUARD + "    pass\nelse:\n    run()\n", 4, False),
    ("with open('x'):\n    run()\n", 2, False),
    ("if True:\n    " + GUARD.replace("\n", "\n        ") + "run()\n", 3, True),
])
def test_the_main_guard_is_found_where_the_call_runs(source, line, guarded):
    import ast

    assert rv._guarded(ast.parse(source), line) is guarded


def test_dask_from_an_unguarded_script_is_one_line_with_the_fix(tmp_path, monkeypatch):
    pytest.importorskip("distributed")
    script = tmp_path / "run.py"
    script.write_text("import tessarin\n"
                      f"book = tessarin.Book({str(EXAMPLES / 'trades.json')!r}, "
                      f"{str(EXAMPLES / 'market.json')!r})\n"
                      "book.revalue(scenarios=tessarin.scenarios.parallel(1), executor='dask')\n")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)}
    result = subprocess.run([sys.executable, "-W", "ignore", str(script)], capture_output=True,
                            text=True, env=env, timeout=120, check=False)
    fix = ('RuntimeError: executor="dask" starts worker processes that import the main script '
           'again: put the code that revalues under `if __name__ == "__main__":` (run.py, '
           'line 3)')
    lines = result.stderr.strip().splitlines()
    assert result.returncode == 1 and lines[-1] == fix and len(lines) < 30, result.stderr
    # A worker importing the script again says the same, whatever started it.
    monkeypatch.setattr(multiprocessing.current_process(), "_inheriting", True, raising=False)
    with pytest.raises(RuntimeError, match=r'under `if __name__ == "__main__":`'):
        rv.check_main_guard()
