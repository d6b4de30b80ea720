"""Every snippet of the README's tour runs: the python blocks in order, in one
namespace, and each `tessarin ...` command of the sh blocks."""

import importlib.util
import re
import shlex
import shutil
from pathlib import Path

import pytest

from conftest import run_cli

ROOT = Path(__file__).resolve().parents[2]
HEADING = "## A short tour"
# Blocks that use an optional extra, found by what they call.
EXTRAS = {"pandas": re.compile(r"to_frame|risk_frame|cashflow_frames"),
          "matplotlib": re.compile(r"\.plot|plot_")}


def tour_text():
    return (ROOT / "README.md").read_text(encoding="utf-8")


def blocks(language):
    text = tour_text()
    start = text.index(HEADING)
    end = text.find("\n## ", start + len(HEADING))
    tour = text[start:] if end < 0 else text[start:end]
    return re.findall(rf"^```{language}\n(.*?)^```", tour, flags=re.MULTILINE | re.DOTALL)


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_the_tour_has_python_and_command_line_snippets():
    assert len(blocks("python")) >= 6
    assert any("tessarin price" in block for block in blocks("sh"))


def test_python_snippets_run_in_order(workdir, capsys):
    namespace = {"__name__": "__readme__"}
    ran = 0
    for number, block in enumerate(blocks("python"), 1):
        missing = [name for name, uses in EXTRAS.items()
                   if uses.search(block) and importlib.util.find_spec(name) is None]
        if missing:
            continue
        try:
            exec(compile(block, f"README tour block {number}", "exec"), namespace)
        except Exception as error:
            pytest.fail(f"block {number} failed: {error!r}\n{block}")
        ran += 1
    assert ran >= 5
    out = capsys.readouterr().out
    assert "<tessarin.YieldCurve 'USD SOFR' USD value date 2026-12-08, 6 pillars>" in out
    assert "2026-06-10 to 2026-12-08" in out
    # The tour's swap is the curve's own 5Y instrument at 3.25%: its par rate is the quote.
    assert "par rate 3.300000%" in out
    if importlib.util.find_spec("matplotlib"):
        for png in ("usd_curve.png", "usd_5y_risk.png", "all_curves.png"):
            assert (workdir / png).read_bytes()[:4] == b"\x89PNG"


def commands():
    found = []
    for block in blocks("sh"):
        for line in block.splitlines():
            line = line.split("#")[0].strip()
            if line.startswith("tessarin "):
                found.append(line)
    return found


@pytest.mark.parametrize("command", commands())
def test_command_line_snippets_succeed(workdir, command):
    result = run_cli(*shlex.split(command)[1:])
    assert result.returncode == 0, result.stderr
    assert result.stdout
    # Curves out to 30 years read past the built-in holiday lists, and say so.
    assert all(line.startswith("tessarin: warning: calendar ")
               for line in result.stderr.splitlines())
