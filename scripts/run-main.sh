#!/usr/bin/env bash
# The main job: installs what is missing, builds everything and starts Orvanta.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
exec "$root/build/bin/orvanta" "$@"
