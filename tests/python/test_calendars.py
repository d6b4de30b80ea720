"""Holiday calendars generated after the built-in lists, asked by name, and carried to
files, the command line and Dask workers. Anything that extends the process's calendars
runs in a fresh interpreter, so the other tests keep the built-in lists."""

import datetime as dt
import json
import os

import pytest

import tessarin
from conftest import EXAMPLES, run_cli, run_isolated
from tessarin import _calendar_rules

holidays_package = pytest.importorskip("holidays")

# Weekdays on which a built-in list and the rules disagree, (listed only, rules only); the
# README gives the reasons.
KNOWN_DIFFERENCES = {
    ("JP", 2027): (set(), {"2027-11-03", "2027-11-23"}),
    ("CH", 2028): ({"2028-01-03"}, set()),
}


def weekdays(days):
    return {d.isoformat() for d in days if d.weekday() < 5}


@pytest.mark.parametrize("name", _calendar_rules.RULES)
def test_rules_match_the_built_in_lists_year_by_year_on_weekdays(name):
    (first, last, source), *_ = tessarin.conventions.CALENDARS[name].coverage
    assert source == "built-in"
    for year in range(first, last + 1):
        listed = weekdays(tessarin.calendars.holidays(name, dt.date(year, 1, 1),
                                                      dt.date(year, 12, 31)))
        rules = weekdays(_calendar_rules.generate(holidays_package, name, year, year))
        assert (listed - rules, rules - listed) == KNOWN_DIFFERENCES.get((name, year),
                                                                         (set(), set())), year


def test_asking_a_calendar_sees_unions_and_refuses_unknown_names():
    us_en = tessarin.calendars.holidays("US, EN", "2026-12-20", "2027-01-05")
    assert us_en == [dt.date(2026, 12, 25), dt.date(2026, 12, 28), dt.date(2027, 1, 1)]
    assert not tessarin.calendars.is_business_day("US,EN", "2026-12-28")
    assert tessarin.calendars.is_business_day("US", "2026-12-28")
    assert not tessarin.calendars.is_business_day("US", "2026-12-26")  # a Saturday
    with pytest.raises(tessarin.InputError, match="^unknown calendar 'XX' \\(known: "):
        tessarin.calendars.holidays("US,XX", "2026-01-01", "2026-12-31")
    with pytest.raises(tessarin.InputError, match=r"^calendars\[0\]: no holiday rules for 'XX'"):
        tessarin.calendars.extend(2040, calendars=["XX"])


# Published dates, 2031-2090, not business days once extended; the day before or after is.
EXTENDED_HOLIDAYS = [
    ("US", "2040-07-04"), ("US", "2045-12-25"), ("US", "2034-11-23"), ("USGS", "2035-03-23"),
    ("USGS", "2060-10-11"), ("EN", "2035-03-23"), ("EN", "2050-08-29"), ("TG", "2035-03-23"),
    ("TG", "2035-03-26"), ("CH", "2035-03-23"), ("CH", "2090-08-01"), ("JP", "2035-05-03"),
    ("JP", "2035-05-04"), ("JP", "2031-03-21"), ("SG", "2035-02-08"), ("SG", "2035-02-09"),
]


def test_extend_fills_every_calendar_through_the_year_and_a_long_swap_stops_warning():
    result = run_isolated(f"""
        import datetime as dt, json, warnings
        import tessarin
        from conftest import usd_curve_input, usd_swap_input
        warnings.simplefilter("error", tessarin.CalendarCoverageWarning)
        closed = [tessarin.calendars.is_business_day(n, d) for n, d in {EXTENDED_HOLIDAYS!r}]
        added = tessarin.calendars.extend()
        again = tessarin.calendars.extend()
        # 50 years: no warning (an error here).
        curve = tessarin.YieldCurve(usd_curve_input())
        tessarin.IRS(usd_swap_input(start=dt.date(2026, 12, 10),
                                    end=dt.date(2076, 12, 10))).price(curve)
        short = tessarin.IRS(usd_swap_input(end=dt.date(2040, 7, 4)))
        print(json.dumps({{
            "before": closed, "added": added, "again": again,
            "after": [tessarin.calendars.is_business_day(n, d) for n, d in {EXTENDED_HOLIDAYS!r}],
            "coverage": {{n: c.coverage for n, c in tessarin.conventions.CALENDARS.items()}},
            "end": short.cashflows(curve)["Leg1"]["Accrual End Date"][-1].isoformat()}}))
    """)
    assert result.returncode == 0, result.stderr
    out = json.loads(result.stdout)
    assert all(out["before"]) and not any(out["after"])
    assert out["added"] == {"USGS": 73, "US": 70, "SG": 74, "TG": 72, "EN": 72, "JP": 72,
                            "CH": 72}
    assert out["again"] == {}
    assert out["coverage"]["US"] == [[2026, 2030, "built-in"], [2031, 2100, "rules"]]
    assert out["coverage"]["JP"] == [[2026, 2027, "built-in"], [2028, 2099, "rules"]]
    assert out["end"] == "2040-07-05"


def test_without_the_package_extend_names_the_pip_command():
    result = run_isolated("""
        import sys
        sys.modules["holidays"] = None
        import tessarin
        try:
            tessarin.calendars.extend(2040)
        except ImportError as error:
            print(error)
    """)
    assert result.returncode == 0, result.stderr
    assert "needs the holidays package: pip install '" in result.stdout
    assert "[calendars]'" in result.stdout


def test_market_file_and_command_line_give_the_python_numbers(tmp_path):
    market = json.loads((EXAMPLES / "market.json").read_text())
    market["calendars"] = [{"extend through": 2100},
                           {"name": "XM", "holidays": ["2031-01-03"], "weekend": ["Fri", "Sat"]}]
    (tmp_path / "market.json").write_text(json.dumps(market))
    files = [str(EXAMPLES / "trades.json"), "--fixings", str(EXAMPLES / "fixings.json"),
             "--format", "json"]
    from_file = run_cli("price", str(tmp_path / "market.json"), *files)
    from_flag = run_cli("price", str(EXAMPLES / "market.json"), *files,
                        "--calendars-through", "2100")
    python = run_isolated(f"""
        import json, tessarin
        from tessarin import cli
        tessarin.calendars.extend(2100)
        cli.main(["price", {str(EXAMPLES / "market.json")!r}, *{files!r}])
    """)
    built_in = run_cli("price", str(EXAMPLES / "market.json"), *files)
    for run in (from_file, from_flag, python):
        assert run.returncode == 0, run.stderr
        assert "calendar '" not in run.stderr
    assert json.loads(from_file.stdout) == json.loads(from_flag.stdout) \
        == json.loads(python.stdout) != json.loads(built_in.stdout)
    listing = run_cli("conventions", "--calendars-through", "2060", "--format", "json")
    us = next(c for c in json.loads(listing.stdout)["calendars"] if c["name"] == "US")
    assert us["coverage"] == [{"first year": 2026, "last year": 2030, "source": "built-in"},
                              {"first year": 2031, "last year": 2060, "source": "rules"}]
    table = run_cli("conventions", "--calendars", str(tmp_path / "market.json"))
    assert "2026-2030 built-in, 2031-2100 rules" in table.stdout
    assert "2031 user" in table.stdout


@pytest.mark.parametrize(("entry", "message"), [
    ({"extend through": "2100"}, "calendars.extend through: expected a year, got '2100'"),
    ([{"extend through": 2100, "calendars": ["US", "XX"]}],
     r"calendars\[0\]\.calendars\[1\]: no holiday rules for 'XX'"),
    ([{"name": "XM"}], r"calendars\[0\]\.holidays: missing key"),
    ([{"name": "XM", "holidays": ["2031-02-30"]}],
     r"calendars\[0\]\.holidays\[0\]: expected a date as YYYY-MM-DD, got '2031-02-30'"),
    ({"extend": True, "nme": "US"}, r"calendars\.nme: unknown key 'nme'"),
])
def test_bad_calendars_in_a_market_file_name_the_file_and_key(tmp_path, entry, message):
    market = json.loads((EXAMPLES / "market.json").read_text())
    market["calendars"] = entry
    path = tmp_path / "market.json"
    path.write_text(json.dumps(market))
    with pytest.raises(tessarin.InputError, match=f"^{path}: {message}"):
        tessarin.load_market(path)


@pytest.mark.skipif(bool(os.environ.get("TESSARIN_SANITIZED")),
                    reason="Dask clusters are not run under the sanitizers")
def test_dask_workers_started_after_extend_price_as_the_local_engine():
    pytest.importorskip("distributed")
    result = run_isolated(f"""
        import numpy as np, tessarin
        from tessarin import revaluation as rv, scenarios as sc
        market = tessarin.load_market({str(EXAMPLES / "market.json")!r})
        trades = [rv.BookTrade(t.swap["id"], t.curve, t.swap)
                  for t in tessarin.load_trades({str(EXAMPLES / "trades.json")!r})]
        fixings = tessarin.load_fixings({str(EXAMPLES / "fixings.json")!r})
        run = lambda **kw: rv.revalue(trades, market, sc.parallel([-25, 25]), fixings,
                                      **kw).pnl.to_numpy()
        built_in = run()
        tessarin.calendars.extend(2100)
        local = run()
        print(np.array_equal(local, built_in), np.array_equal(local, run(executor="dask",
                                                                          workers=1)))
    """, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["False", "True"]


def test_a_process_adopts_another_processes_calendars_both_ways():
    result = run_isolated("""
        import tessarin
        from tessarin import calendars
        calendars.register("XM", ["2031-01-03"], weekend=["Fri", "Sat"])
        calendars.extend(2060, calendars=["US"])
        extended = calendars.state()
        calendars.adopt([])  # a caller with the built-in lists only
        print(tessarin.conventions.CALENDARS["US"].sources, calendars.is_business_day("US",
                                                                                   "2040-07-04"))
        calendars.adopt(extended)
        print(tessarin.conventions.CALENDARS["US"].sources, calendars.state() == extended)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["2026-2030 built-in True",
                                          "2026-2030 built-in, 2031-2060 rules True"]
