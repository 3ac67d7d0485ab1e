#!/usr/bin/env bash
# The Windows programs end to end under Wine: the scenarios, the backend's probes and their
# self-tests. See scripts/wine_e2e.py.
set -euo pipefail
exec python3 "$(dirname "$0")/wine_e2e.py" "$@"
