#!/usr/bin/env bash
# Installs the wheel of dist/ (from scripts/wheel.sh) into a fresh venv and runs the demo and
# the Python suite against it with no compiler, CMake or Boost in reach: the commands see a
# PATH of the venv's bin and a folder of links to the few tools the tests call, and nothing
# of the source tree is importable. Then checks that the demo book prices to the same
# numbers as the package built from source in .venv, when there is one.
#
#   bash scripts/wheel_test.sh [pytest arguments...]
#
# PYTHON picks the interpreter of the venv (default python3; the same minor version as the
# wheel's).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

shopt -s nullglob
wheels=(dist/tessarin-*manylinux*.whl)
if [ ${#wheels[@]} -ne 1 ]; then
  echo "wheel_test: expected one repaired wheel in dist/ (run scripts/wheel.sh)" >&2
  exit 1
fi
wheel=$root/${wheels[0]}

venv=$root/build/wheel-venv
tools=$root/build/wheel-tools
rm -rf "$venv" "$tools"
"${PYTHON:-python3}" -m venv "$venv"
"$venv/bin/python" -m pip install -q "$wheel"

# What the tests call besides Python: nothing of the toolchain.
mkdir -p "$tools"
for tool in sh bash env; do
  ln -s "$(command -v "$tool")" "$tools/$tool"
done

clean() {
  env -i HOME="$HOME" LANG=C.UTF-8 PATH="$venv/bin:$tools" MPLBACKEND=Agg \
    ${TMPDIR:+TMPDIR="$TMPDIR"} "$@"
}

for compiler in cc c++ gcc g++ cmake ninja; do
  if clean bash -c "command -v $compiler" >/dev/null; then
    echo "wheel_test: $compiler is on the test PATH" >&2
    exit 1
  fi
done

# Run from an empty folder, so that nothing of the checkout shadows the installed package.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
clean python -c 'import tessarin, _tessarin, sys
venv = sys.argv[1]
for module in (tessarin, _tessarin):
    assert module.__file__.startswith(venv), module.__file__' "$venv"

TIMEFORMAT="wheel_test: tessarin price --demo --risk from the wheel: %R s"
time clean tessarin price --demo --risk --format csv >wheel-demo.csv 2>/dev/null
if [ -x "$root/.venv/bin/tessarin" ]; then
  "$root/.venv/bin/tessarin" price --demo --risk --format csv >source-demo.csv 2>/dev/null
  cmp wheel-demo.csv source-demo.csv
  echo "wheel_test: the demo book prices to the same numbers as the source build"
fi
cp -r "$root/examples" examples
clean python examples/usd_sofr.py >/dev/null 2>&1

# The test extras (pytest, hypothesis, matplotlib, pyarrow, Dask) only now: the demo above
# ran on the wheel and its own dependencies.
"$venv/bin/python" -m pip install -q "$wheel[test]"

clean python -m pytest -q -p no:cacheprovider --rootdir "$root" -c "$root/pyproject.toml" \
  "$root/tests/python" "$@"
