#!/usr/bin/env bash
# Creates .venv (once) and installs the package into it with its test extras.
# The build backend is installed into .venv too, so that a re-run builds in the
# kept build directory (build/<wheel tag>) instead of in a fresh isolated
# environment: with nothing changed, nothing is compiled again.
set -euo pipefail
cd "$(dirname "$0")/.."

python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
  .venv/bin/python -m pip install -q --upgrade pip
fi
.venv/bin/python -c 'import scikit_build_core' 2>/dev/null \
  || .venv/bin/python -m pip install -q 'scikit-build-core>=1.0'
.venv/bin/python -m pip install -q --no-build-isolation '.[test]'
