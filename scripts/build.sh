#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures DIR once and builds it incrementally with Ninja.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir"
