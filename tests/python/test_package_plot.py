"""Charts of curves and risk ladders: real PNG files with labelled axes."""

import pytest

import tessarin

pytest.importorskip("matplotlib")
from matplotlib import dates as mdates

from conftest import EXAMPLES, example_trades
from tessarin import plot

PNG_MAGIC = b"\x89PNG\r\n\x1a\n"


@pytest.fixture(scope="module")
def curves():
    return [tessarin.YieldCurve(c) for c in tessarin.load_market(EXAMPLES / "market.json")]


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == PNG_MAGIC
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def test_curve_plot_has_zero_rate_and_discount_factor_panels_on_a_date_axis(tmp_path, curves):
    figure = curves[0].plot(tmp_path / "usd.png")
    assert png_size(tmp_path / "usd.png") == (900, 700)
    zero, df = figure.axes
    assert (zero.get_ylabel(), df.get_ylabel(), df.get_xlabel()) == (
        "Zero rate (%)", "Discount factor", "Pillar date")
    assert isinstance(df.xaxis.get_major_formatter(), mdates.ConciseDateFormatter)
    line = zero.get_lines()[0]
    assert [mdates.num2date(x).date() for x in mdates.date2num(line.get_xdata())] == \
        curves[0].dates()
    assert line.get_ydata().tolist() == pytest.approx([100 * r for r in curves[0].rates()])
    assert "value date 2026-12-08" in figure.get_suptitle()


def test_several_curves_share_one_chart_with_a_legend(tmp_path, curves):
    figure = plot.plot_curve(curves, tmp_path / "all.png")
    labels = [t.get_text() for t in figure.axes[0].get_legend().get_texts()]
    assert labels == [c.id for c in curves]
    assert (tmp_path / "all.png").stat().st_size > 20_000


def test_risk_ladder_draws_one_bar_per_tenor(tmp_path, curves):
    curve = curves[0]
    swap = tessarin.IRS(example_trades()["USD 5Y payer"].swap)
    risk = swap.risk(curve)
    figure = swap.plot_risk(curve, path=tmp_path / "risk.png")
    png_size(tmp_path / "risk.png")
    axes = figure.axes[0]
    assert [p.get_height() for p in axes.patches] == risk["Net"]
    assert [t.get_text() for t in axes.get_xticklabels()] == risk["Tenor"]
    assert axes.get_ylabel() == "PV change per 1bp quote rise (USD)"
    assert axes.get_xlabel() and "USD 5Y payer" in axes.get_title()


def test_figures_are_not_saved_without_a_path(tmp_path, monkeypatch, curves):
    monkeypatch.chdir(tmp_path)
    figure = curves[0].plot()
    assert len(figure.axes) == 2
    assert list(tmp_path.iterdir()) == []
