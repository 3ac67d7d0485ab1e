#!/usr/bin/env bash
# The shipped Windows program against boxes emulated behind Wine's own HID stack: the scenarios,
# the info-answer check and their self-tests. See scripts/emulated_box_e2e.py.
set -euo pipefail
exec python3 "$(dirname "$0")/emulated_box_e2e.py" "$@"
