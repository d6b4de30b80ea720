#!/usr/bin/env bash
# Installs what is missing, builds and installs the package into .venv, and
# runs the bundled examples: a USD SOFR curve and a 5-year swap priced on it, then
# the six-currency book priced and risked.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/venv.sh
.venv/bin/python examples/usd_sofr.py
.venv/bin/tessarin price examples/market.json examples/trades.json --fixings examples/fixings.json --risk
