# Sourced by asan_pytest.sh and fuzz.sh: builds _tessarin with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of its own, finds the sanitizer runtimes
# and exports the settings a sanitized run of the (uninstrumented) interpreter needs.
#
#   source scripts/sanitized_module.sh NAME [EXTRA_TARGET...]
#
# NAME prefixes the error messages. Sets root, build, python_exe and preload (the runtimes,
# for LD_PRELOAD of the interpreter). TESSARIN_ASAN_BUILD_DIR overrides the build directory
# (default build-asan/), PYTHON the interpreter (default python3).

sanitized_name=$1
shift

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
  -DPython_EXECUTABLE="$python_exe" >/dev/null
cmake --build "$build" --parallel "${TESSARIN_JOBS:-2}" --target _tessarin "$@"

asan=$(g++ -print-file-name=libasan.so)
ubsan=$(g++ -print-file-name=libubsan.so)
for lib in "$asan" "$ubsan"; do
  if [ ! -e "$lib" ]; then
    echo "$sanitized_name: sanitizer runtime not found: $lib" >&2
    exit 1
  fi
done
preload="$asan $ubsan${LD_PRELOAD:+ $LD_PRELOAD}"

# CPython keeps memory until exit, so leak reports say nothing about us; the leak check is
# tests/python/test_leaks.py on the ordinary build.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# Tells the tests that resident-memory figures are the sanitizer's, not ours.
export TESSARIN_SANITIZED=1
# pymalloc hides small Python allocations from the sanitizer; plain malloc shows them.
export PYTHONMALLOC=malloc
