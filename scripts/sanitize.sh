#!/usr/bin/env bash
# Builds the C++ tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (no recovery, LeakSanitizer on) and runs them; then the Python suite and a
# bounded, deterministic round of the fuzz suite against a sanitized module.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=${TESSARIN_ASAN_DIR:-build/asan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_BUILD_TESTS=ON \
  -DTESSARIN_SANITIZE=ON
cmake --build "$build" -j 2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$build" --output-on-failure -j 2

# The Python side runs on the interpreter of .venv (with the test extras) when
# scripts/test.sh has made it.
if [ -z "${PYTHON:-}" ] && [ -x .venv/bin/python ]; then
  export PYTHON=$PWD/.venv/bin/python
fi
bash scripts/asan_pytest.sh
bash scripts/fuzz.sh
