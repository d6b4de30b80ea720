#!/usr/bin/env bash
# Creates .venv (once) and installs the package into it with its test extras.
set -euo pipefail
cd "$(dirname "$0")/.."

python=${PYTHON:-python3}
[ -x .venv/bin/python ] || "$python" -m venv .venv
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q '.[test]'
