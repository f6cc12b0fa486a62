#!/usr/bin/env bash
# Cross-builds korvane.exe and korvane.dll with mingw-w64 and runs the unit and
# end-to-end tests under Wine.
#   scripts/test-windows.sh
# Installs the cross compiler and Wine when they are missing (as root), keeps a
# Wine prefix of its own in build/windows/wine, and stops the Wine server at
# the end, also when something fails.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for pkg in cmake g++-mingw-w64-x86-64-posix libxxhash-dev wine wine64 googletest; do
    have_pkg "$pkg" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "Missing packages (install them, or run as root): ${missing[*]}" >&2
        exit 1
    fi
fi

build=build/windows
mkdir -p "$build"
export WINEPREFIX="$PWD/$build/wine"
export WINEARCH=win64
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

# A running server and an initialised prefix before anything runs under Wine;
# otherwise the first test program stalls while Wine sets itself up.
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i >/dev/null 2>&1

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
echo "Windows build and tests finished in $(( $(date +%s) - start )) s"
