"""DataFrames of curve pillars, risk ladders and cash flows."""

import datetime as dt

import pytest

import tessarin
from conftest import EXAMPLES, example_curves, example_trades

pd = pytest.importorskip("pandas")


@pytest.fixture(scope="module")
def priced():
    trade = example_trades()["USD seasoned 3Y payer"]
    fixings = tessarin.load_fixings(EXAMPLES / "fixings.json")
    return tessarin.YieldCurve(example_curves()[trade.curve]), tessarin.IRS(trade.swap), fixings


def test_curve_frame_lists_the_pillars_of_instruments_in_use():
    curve = tessarin.YieldCurve(example_curves()["EUR ESTR"])
    frame = curve.to_frame()
    assert list(frame.columns) == ["Tenor", "Quote", "Date", "Zero Rate", "Discount Factor"]
    assert pd.api.types.is_datetime64_any_dtype(frame["Date"])
    assert all(frame[c].dtype == "float64" for c in ("Quote", "Zero Rate", "Discount Factor"))
    # The 18M quote is not in use, so it makes no pillar.
    assert "18M" not in set(frame["Tenor"]) and len(frame) == len(curve.dates()) == 14
    assert [d.date() for d in frame["Date"]] == curve.dates()
    assert frame["Zero Rate"].tolist() == curve.rates()
    assert frame["Discount Factor"].tolist() == [curve.df(d) for d in curve.dates()]


def test_risk_and_cashflow_frames_keep_every_value_with_proper_dtypes(priced):
    curve, swap, fixings = priced
    risk = swap.risk(curve, fixings)
    frame = swap.risk_frame(curve, fixings)
    assert frame.index.name == "Tenor" and frame.index.tolist() == risk["Tenor"]
    assert list(frame.columns) == ["Leg1", "Leg2", "Net"]
    assert (frame.dtypes == "float64").all()
    # Per 1bp, as `risk`; a native result per 1.00 of quote (percent) is divided by 100.
    assert frame.loc["3Y", "Net"] == risk["Net"][risk["Tenor"].index("3Y")]
    native = swap.native.risk(curve.native, fixings)
    assert tessarin.frames.risk_frame(native, currency="USD").equals(frame)
    assert frame.columns.name == "USD per 1bp"
    assert frame.attrs == {"unit": "per 1bp", "currency": "USD"}

    flows = swap.cashflows(curve, fixings)
    frames = swap.cashflow_frames(curve, fixings)
    assert list(frames) == ["Leg1", "Leg2"]
    for leg, frame in frames.items():
        assert list(frame.columns) == list(flows[leg])
        for name, values in flows[leg].items():
            if isinstance(values[0], dt.date):
                assert pd.api.types.is_datetime64_any_dtype(frame[name]), name
                assert [d.date() for d in frame[name]] == values
            elif name == "Pay/Receive":
                assert frame[name].tolist() == values
            else:
                assert frame[name].dtype == "float64" and frame[name].tolist() == values
        assert frame.attrs == {"currency": "USD"}
    # Signed as the leg PVs: paid negative.
    for leg in ("Leg1", "Leg2"):
        assert frames[leg]["Cash Flow PV"].sum() == pytest.approx(
            swap.price(curve, fixings)[f"{leg} PV"], rel=1e-12)
