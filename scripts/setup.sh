#!/usr/bin/env bash
# Installs the Debian packages of packages.txt that are missing. On a machine that has them all
# it returns at once; otherwise it runs apt-get update once and installs only what is absent.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

missing=()
while read -r package; do
    package=${package%%#*}
    package=${package//[[:space:]]/}
    [ -z "$package" ] && continue
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done < "$root/packages.txt"

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
