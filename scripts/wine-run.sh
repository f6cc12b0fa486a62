#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest. The prefix lives in the build
# folder (scripts/test-windows.sh creates it); without one Wine would use ~/.wine.
: "${WINEARCH:=win64}"
: "${WINEDEBUG:=-all}"
export WINEARCH WINEDEBUG
unset DISPLAY
if [ -z "${WINEPREFIX:-}" ]; then
    # The program is in <build>/bin or <build>/tests; the prefix in <build>/wine.
    dir=$(cd "$(dirname "$1")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do
        dir=$(dirname "$dir")
    done
    [ "$dir" != / ] && export WINEPREFIX="$dir/wine"
fi
exec wine "$@"
