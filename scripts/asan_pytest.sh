#!/usr/bin/env bash
# Builds _tessarin with AddressSanitizer and UndefinedBehaviorSanitizer in a
# build directory of its own and runs the Python tests against it, with the
# sanitizer runtimes preloaded into the (uninstrumented) interpreter. Any
# memory fault or undefined behaviour aborts the run with a non-zero status.
#
#   scripts/asan_pytest.sh [pytest arguments...]
#
# TESSARIN_ASAN_BUILD_DIR overrides the build directory (default build-asan/),
# PYTHON the interpreter (default python3; it needs pytest).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/sanitized_module.sh" asan_pytest _tessarin_testing

export LD_PRELOAD=$preload
export PYTHONPATH="$build/python:$root/python${PYTHONPATH:+:$PYTHONPATH}"

cd "$root"
exec "$python_exe" -m pytest -p no:cacheprovider tests/python "$@"
