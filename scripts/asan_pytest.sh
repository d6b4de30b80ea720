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

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARIN_ASAN_BUILD_DIR:-$root/build-asan}
python=${PYTHON:-python3}
python_exe=$("$python" -c 'import sys; print(sys.executable)')

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DTESSARIN_SANITIZE=ON \
  -DTESSARIN_BUILD_PYTHON=ON \
  -DTESSARIN_BUILD_TESTS=OFF \
  -DTESSARIN_PYTHON_TESTING=ON \
  -DPython_EXECUTABLE="$python_exe"
cmake --build "$build" --parallel "${TESSARIN_JOBS:-2}" --target _tessarin _tessarin_testing

asan=$(g++ -print-file-name=libasan.so)
ubsan=$(g++ -print-file-name=libubsan.so)
for lib in "$asan" "$ubsan"; do
  if [ ! -e "$lib" ]; then
    echo "asan_pytest: sanitizer runtime not found: $lib" >&2
    exit 1
  fi
done

# CPython keeps memory until exit, so leak reports say nothing about us.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export LD_PRELOAD="$asan $ubsan${LD_PRELOAD:+ $LD_PRELOAD}"
export PYTHONPATH="$build/python:$root/python${PYTHONPATH:+:$PYTHONPATH}"
# Tells the tests that resident-memory figures are the sanitizer's, not ours.
export TESSARIN_SANITIZED=1
# pymalloc hides small Python allocations from the sanitizer; plain malloc shows them.
export PYTHONMALLOC=malloc

cd "$root"
exec "$python_exe" -m pytest -p no:cacheprovider tests/python "$@"
