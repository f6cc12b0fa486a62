#!/usr/bin/env bash
# Installs what the tests need when it is missing, builds, and runs every test.
#   scripts/test.sh            release build, all tests
#   scripts/test.sh portable   release build of the portable hash paths only, all tests
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer build, all tests
#   scripts/test.sh tsan       ThreadSanitizer build, the threaded tests
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for pkg in cmake g++ libgtest-dev libxxhash-dev cksfv rhash b3sum xxhash bindfs fuse3 nlohmann-json3-dev zsh fish tmux; do
    have_pkg "$pkg" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "Missing packages (install them, or run as root): ${missing[*]}" >&2
    fi
fi

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" --no-tests=error
