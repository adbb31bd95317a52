#!/usr/bin/env bash
# run-oracle.sh FILE.ts OUTPUT.json: writes what the aribts library decodes from FILE.ts, as JSON.
# Installs the pinned aribts (package-lock.json) into node_modules here on first use.
# Exit status 77 means the oracle is unavailable (no Node.js or npm, or offline).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v node >/dev/null 2>&1 || { echo "node is not installed" >&2; exit 77; }
if [ ! -f "$here/node_modules/aribts/package.json" ]; then
    command -v npm >/dev/null 2>&1 || { echo "npm is not installed" >&2; exit 77; }
    # One installation at a time when tests run in parallel.
    exec 9>"${TMPDIR:-/tmp}/isdbsim-oracle-install.lock"
    flock 9
    if [ ! -f "$here/node_modules/aribts/package.json" ]; then
        (cd "$here" && timeout 300 npm ci --no-audit --no-fund --loglevel=error >&2) ||
            { echo "cannot install aribts (offline?)" >&2; exit 77; }
    fi
    flock -u 9
fi
exec node "$here/aribts_dump.js" "$1" "$2"
