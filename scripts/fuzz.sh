#!/usr/bin/env bash
# Runs the property-based robustness suite (tests/fuzz) against the module
# built with AddressSanitizer and UndefinedBehaviorSanitizer. Each round is a
# fresh interpreter in a child process; a round that dies from a signal (a
# crash, a sanitizer abort) or outlives its time fails the run.
#
#   scripts/fuzz.sh                          # CI: one deterministic round
#   TESSARIN_FUZZ_BUDGET=3600 scripts/fuzz.sh  # developers: an hour of random rounds
#
# TESSARIN_FUZZ_BUDGET  seconds of fuzzing. Unset: one derandomized round with
#                       a fixed number of examples per target (the "ci"
#                       profile), killed after TESSARIN_FUZZ_CI_TIMEOUT seconds
#                       (default 900). Set: random rounds (the "dev" profile),
#                       each with a new seed, until the budget is spent;
#                       TESSARIN_FUZZ_SEED fixes the first round's seed.
# TESSARIN_FUZZ_EXAMPLES  examples per target and round (ci default 250, dev 300).
# TESSARIN_ASAN_BUILD_DIR  the sanitized build (default build-asan/, the one
#                       scripts/asan_pytest.sh uses). PYTHON picks the interpreter.
# Extra arguments go to pytest.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/sanitized_module.sh" fuzz

if ! "$python_exe" -c 'import hypothesis, pytest' 2>/dev/null; then
  "$python_exe" -m pip install --quiet 'pytest>=7' 'hypothesis>=6'
fi

export PYTHONPATH="$build/python:$root/python:$root/tests/fuzz${PYTHONPATH:+:$PYTHONPATH}"
report=$(mktemp)
trap 'rm -f "$report"' EXIT
export TESSARIN_FUZZ_REPORT=$report

# One round in a child interpreter; its exit status tells a finding (1), a
# crash (a signal: 128 + its number) and a hang (124, from timeout) apart.
round() {
  local limit=$1
  shift
  local status=0
  LD_PRELOAD=$preload \
    timeout --signal=KILL "$limit" "$python_exe" -m pytest -p no:cacheprovider -q \
    "$root/tests/fuzz" "$@" || status=$?
  case $status in
    0) ;;
    124 | 137) echo "fuzz: the round did not finish within ${limit}s (a hang?)" >&2 ;;
    1) echo "fuzz: a case ended in a way that is not allowed (see above)" >&2 ;;
    *)
      if [ "$status" -gt 128 ]; then
        echo "fuzz: the interpreter died from signal $((status - 128))" >&2
      else
        echo "fuzz: pytest ended with status $status" >&2
      fi
      ;;
  esac
  return "$status"
}

cd "$root"
if [ -z "${TESSARIN_FUZZ_BUDGET:-}" ]; then
  TESSARIN_FUZZ_PROFILE=ci round "${TESSARIN_FUZZ_CI_TIMEOUT:-900}" "$@"
else
  export TESSARIN_FUZZ_PROFILE=dev
  export TESSARIN_FUZZ_EXAMPLES=${TESSARIN_FUZZ_EXAMPLES:-300}
  deadline=$((SECONDS + TESSARIN_FUZZ_BUDGET))
  rounds=0
  while [ "$SECONDS" -lt "$deadline" ]; do
    seed=${TESSARIN_FUZZ_SEED:-$RANDOM$RANDOM}
    echo "fuzz: round $((rounds + 1)), seed $seed, $((deadline - SECONDS))s left"
    # A round may overrun the budget by at most its own time limit.
    round "$((deadline - SECONDS + 600))" --hypothesis-seed="$seed" "$@"
    rounds=$((rounds + 1))
    unset TESSARIN_FUZZ_SEED # a given seed serves the first round only
  done
  echo "fuzz: $rounds rounds"
fi
echo "fuzz: cases per target, all rounds: $(tr -d '\n ' <"$report")"
