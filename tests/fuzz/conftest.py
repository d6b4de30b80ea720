"""Hypothesis profiles of the robustness suite, a watchdog against hangs, and
the per-target case count printed at the end of the session.

Profiles (TESSARIN_FUZZ_PROFILE):
  ci   derandomized, a fixed number of examples per target, no deadline: the
       same cases on every run, so CI never flakes (the default);
  dev  random, many examples, failures kept in the example database.
TESSARIN_FUZZ_EXAMPLES overrides the examples per target (pass
--hypothesis-seed to pytest to fix the seed of a dev round),
TESSARIN_FUZZ_CASE_TIMEOUT bounds one test (seconds, default 600), and
TESSARIN_FUZZ_REPORT names a JSON file that receives the case counts."""

import faulthandler
import json
import os
import sys

import fuzzing
import pytest
from hypothesis import HealthCheck, settings

_examples = os.environ.get("TESSARIN_FUZZ_EXAMPLES")

settings.register_profile(
    "ci",
    derandomize=True,
    database=None,
    deadline=None,
    max_examples=int(_examples or 250),
    suppress_health_check=list(HealthCheck),
    print_blob=True,
)
settings.register_profile(
    "dev",
    derandomize=False,
    deadline=None,
    max_examples=int(_examples or 5_000),
    suppress_health_check=list(HealthCheck),
    print_blob=True,
)
settings.load_profile(os.environ.get("TESSARIN_FUZZ_PROFILE", "ci"))


@pytest.fixture(autouse=True)
def watchdog():
    """A test that hangs ends the interpreter with every thread's stack on
    stderr, so the fuzz runner sees a failure instead of waiting forever."""
    timeout = float(os.environ.get("TESSARIN_FUZZ_CASE_TIMEOUT", "600"))
    faulthandler.dump_traceback_later(timeout, exit=True, file=sys.stderr)
    yield
    faulthandler.cancel_dump_traceback_later()


def pytest_terminal_summary(terminalreporter):
    if not fuzzing.CASES:
        return
    terminalreporter.section("fuzz cases per target")
    for target in sorted(fuzzing.CASES):
        kinds = ", ".join(f"{k} {n}" for k, n in sorted(fuzzing.OUTCOMES[target].items()))
        terminalreporter.write_line(f"{target:<20} {fuzzing.CASES[target]:>7}  ({kinds})")
    report = os.environ.get("TESSARIN_FUZZ_REPORT")
    if report:
        previous = {}
        if os.path.exists(report) and os.path.getsize(report) > 0:
            with open(report) as f:
                previous = json.load(f)
        for target, count in fuzzing.CASES.items():
            previous[target] = previous.get(target, 0) + count
        with open(report, "w") as f:
            json.dump(previous, f, indent=1, sort_keys=True)
