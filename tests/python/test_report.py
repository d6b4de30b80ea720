"""`tessarin report`: one HTML file holding every table and chart, nothing fetched from
elsewhere, and the same numbers as the command line and the library."""

import base64
import html.parser
import json

import pytest

import tessarin
from conftest import EXAMPLES, example
from tessarin import cli

pytest.importorskip("jinja2")
pytest.importorskip("matplotlib")

MARKET, TRADES, FIXINGS = (str(EXAMPLES / n) for n in ("market.json", "trades.json",
                                                       "fixings.json"))
CURVES = [c["id"] for c in example("market.json")["curves"]]
CURRENCIES = ["USD", "EUR", "GBP", "CHF", "JPY", "SGD"]


class Page(html.parser.HTMLParser):
    """The tables (id: rows of cell text), images (id: src) and every tag and URL-like
    attribute of a page."""

    def __init__(self, text):
        super().__init__()
        self.tables, self.images, self.tags, self.links, self.styles = {}, {}, set(), [], []
        self._table = self._row = self._cell = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.add(tag)
        self.links += [(tag, k, v) for k, v in attrs.items()
                       if k in ("src", "href", "action", "data", "srcset", "poster")]
        if tag == "table":
            self._table = self.tables.setdefault(attrs["id"], [])
        elif tag == "tr" and self._table is not None:
            self._row = []
            self._table.append(self._row)
        elif tag in ("td", "th") and self._row is not None:
            self._cell = []
        elif tag == "img":
            self.images[attrs["id"]] = attrs["src"]

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self._cell is not None:
            self._row.append("".join(self._cell).strip())
            self._cell = None
        elif tag == "table":
            self._table = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell.append(data)
        if self.lasttag == "style":
            self.styles.append(data)


def slug(text):
    return "".join(c if c.isalnum() else "-" for c in text.lower()).strip("-")


def records(page, table_id):
    header, *rows = page.tables[table_id]
    return [dict(zip(header, row, strict=True)) for row in rows]


@pytest.mark.parametrize(("scenarios", "extra_tables", "extra_images"), [
    ([], [], []),
    (["--parallel", "-50,-25,25,50"], ["var"], [f"chart-pnl-{c.lower()}" for c in CURRENCIES]),
])  # fmt: skip
def test_report_holds_every_table_and_image_and_fetches_nothing(tmp_path, capsys, scenarios,
                                                                extra_tables, extra_images):
    out = tmp_path / "report.html"
    status = cli.main(["report", MARKET, TRADES, "--fixings", FIXINGS, *scenarios, "-o",
                       str(out), "--quiet"])
    assert (status, capsys.readouterr().out) == (0, f"{out}\n")
    page = Page(out.read_text(encoding="utf-8"))
    ladders = [f"ladder-{slug(c)}" for c in CURVES]
    assert sorted(page.tables) == sorted(["curves", "pillars", "totals", "largest", "prices",
                                          "failures", *ladders, *extra_tables])
    assert sorted(page.images) == sorted(["chart-curves", *(f"chart-{t}" for t in ladders),
                                          *extra_images])
    for src in page.images.values():
        assert src.startswith("data:image/png;base64,")
        assert base64.b64decode(src.split(",", 1)[1])[:8] == b"\x89PNG\r\n\x1a\n"
    # Nothing to fetch: no scripts, frames, links or styles from elsewhere.
    assert page.tags.isdisjoint({"script", "link", "iframe", "object", "embed", "base"})
    assert [link for link in page.links if not link[2].startswith("data:image/png;base64,")] \
        == []
    assert not any("url(" in style or "@import" in style for style in page.styles)
    assert len(records(page, "prices")) == len(example("trades.json")["trades"])


def test_report_numbers_agree_with_the_command_line_and_the_library(tmp_path, capsys):
    out = tmp_path / "report.html"
    cli.main(["report", MARKET, TRADES, "--fixings", FIXINGS, "--parallel", "-25,25",
              "--top", "3", "-o", str(out), "-q"])
    cli.main(["price", MARKET, TRADES, "--fixings", FIXINGS, "--risk", "--format", "json",
              "-q"])
    document = json.loads(capsys.readouterr().out.split("\n", 1)[1])
    page = Page(out.read_text(encoding="utf-8"))
    assert [(r["Currency"], r["NPV"], r["DV01"]) for r in records(page, "totals")] == [
        (t["Currency"], f"{t['NPV']:,.2f}", f"{t['DV01']:,.2f}") for t in document["totals"]]
    largest = sorted(document["trades"], key=lambda t: -abs(t["dv01"]))[:3]
    assert [(r["Trade"], r["DV01"]) for r in records(page, "largest")] == [
        (t["id"], f"{t['dv01']:,.2f}") for t in largest]
    usd = next(ladder for ladder in document["ladders"] if ladder["curve"] == "USD SOFR")
    assert [r["Net"] for r in records(page, "ladder-usd-sofr")] == [
        f"{v:,.2f}".replace("-0.00", "0.00") for v in usd["Net"]]
    book = tessarin.Book(TRADES, MARKET, FIXINGS)
    result = book.revalue(scenarios=tessarin.scenarios.parallel([-25, 25]))
    assert [r["VaR"] for r in records(page, "var")] == [
        f"{result.var(0.99, c):,.2f}" for c in CURRENCIES]


@pytest.mark.parametrize(("args", "message"), [
    (["-o", "{tmp}/missing/report.html"], "tessarin: error: -o: cannot write "),
    (["-o", "{tmp}/r.html", "--top", "-1"], "tessarin: error: --top: expected a count"),
])
def test_report_errors_are_one_line(tmp_path, capsys, args, message):
    status = cli.main(["report", MARKET, TRADES, "--fixings", FIXINGS, "-q",
                       *(a.format(tmp=tmp_path) for a in args)])
    err = capsys.readouterr().err
    assert status == 2 and err.startswith(message) and err.count("\n") == 1
