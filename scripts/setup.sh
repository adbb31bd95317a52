#!/usr/bin/env bash
# Installs the Debian packages of packages.txt that are missing, and Node.js with npm (Debian's
# nodejs and npm packages) when the `node` or `npm` command is missing: the oracle tests run a
# pinned npm package under Node.js. A machine may carry Node.js from elsewhere, so the commands
# are checked rather than the package names. On a machine that has everything it returns at
# once; otherwise it runs apt-get update once and installs only what is absent.
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

node_missing=()
command -v node >/dev/null 2>&1 || node_missing+=(nodejs)
command -v npm >/dev/null 2>&1 || node_missing+=(npm)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ] || [ ${#node_missing[@]} -gt 0 ]; then
    $sudo apt-get update
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
# A Node.js from another source may bundle npm and conflict with Debian's npm package: then the
# oracle tests report themselves skipped, and the rest of the suite still runs.
if [ ${#node_missing[@]} -gt 0 ]; then
    echo "Installing Node.js for the oracle tests: ${node_missing[*]}"
    $sudo apt-get install -y --no-install-recommends "${node_missing[@]}" ||
        echo "warning: could not install ${node_missing[*]}; the oracle tests will be skipped" >&2
fi
