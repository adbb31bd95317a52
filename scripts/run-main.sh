#!/usr/bin/env bash
# The main job: installs what is missing, builds everything and starts Orvanta: a viewing window
# on the first tuner (the demo tuner when no other is found), or on the file given. Without a
# display it says so and watches headless for 15 seconds instead, leaving the recording, its
# integrity report and a snapshot in build/headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: watching the first tuner headless for 15 seconds (output in build/headless)"
    exec "$root/build/bin/orvanta" --headless --seconds 15 --out "$root/build/headless" "$@"
fi
exec "$root/build/bin/orvanta" "$@"
