#!/usr/bin/env bash
# Builds the documentation into docs/_build/html (offline; any warning fails the build) after
# running every example of the pages and the README and checking its printed output.
#
#   bash scripts/docs.sh                # the package is built into .venv first if needed
#
# The pages are MyST Markdown under docs/; the API reference is read from the installed
# package, and the conventions reference and the performance charts are made from the
# library and benchmarks/README.md during the build (docs/generate.py).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! .venv/bin/python -c 'import tessarin' 2>/dev/null; then
  bash scripts/setup.sh
  bash scripts/venv.sh
fi
.venv/bin/python -c 'import sphinx, myst_parser, matplotlib' 2>/dev/null \
  || .venv/bin/python -m pip install -q -r docs/requirements.txt

# The examples of the pages, and the README's tour, with their output checked.
.venv/bin/python -m pytest -q -p no:cacheprovider -p no:warnings tests/python/test_readme.py

rm -rf docs/_build/html docs/_generated
MPLBACKEND=Agg .venv/bin/python -m sphinx -b html -W --keep-going -q -j 2 docs docs/_build/html
echo "docs: docs/_build/html/index.html"
