#!/usr/bin/env bash
# One end-to-end case of the launcher: the x86_64 build under wine64 on a private Xvfb display,
# against the patch server on loopback. Screenshots of each state stay in OUTPUT_DIR/CASE/.
# Usage: tests/e2e/run.sh CASE WIN64_BUILD_DIR OUTPUT_DIR   (cases: tests/e2e/case_*.sh)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -ne 3 ] || [ ! -f "$here/case_$1.sh" ]; then
  echo "usage: $0 CASE WIN64_BUILD_DIR OUTPUT_DIR; cases:" $(cd "$here" && ls case_*.sh | sed 's/^case_//; s/\.sh$//') >&2
  exit 2
fi
# shellcheck source=lib.sh
source "$here/lib.sh"
e2e_init "$1" "$2" "$3"
# shellcheck disable=SC1090
source "$here/case_$1.sh"
e2e_log "passed"
