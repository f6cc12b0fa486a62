#!/usr/bin/env bash
# Builds the Debian package from the release build, checks it with lintian
# (any error fails), installs it, runs the installed program and builds a
# project against the installed library, then removes the package again (dpkg --purge).
#   scripts/package.sh
# Runs as root (apt-get, dpkg). Reuses build/release when `scripts/test.sh
# release` made it; otherwise builds the program alone in build/package.
# The .deb is left in BUILD/deb.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
step() { echo "--- $1 ($(($(date +%s) - start)) s)"; }

if [ "$(id -u)" != 0 ]; then
    echo "scripts/package.sh installs and removes a package: run it as root" >&2
    exit 1
fi
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# A korvane installed by other means would be replaced and then removed.
if have_pkg korvane || [ -e /usr/bin/korvane ]; then
    echo "korvane is installed on this machine already: not touching it" >&2
    exit 1
fi
missing=()
for pkg in cmake g++ libxxhash-dev dpkg-dev file binutils lintian bash-completion; do
    have_pkg "$pkg" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

step "build"
build=build/release
if [ ! -f "$build/CMakeCache.txt" ]; then
    build=build/package
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON -DKORVANE_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2
rm -rf "$build/deb"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/deb" >/dev/null
debs=("$build"/deb/korvane_*.deb)
deb=${debs[0]}
dpkg-deb --info "$deb"

step "lintian"
# Warnings are shown; an error fails the stage.
lintian --fail-on error --display-info "$deb"

step "install"
work=$(mktemp -d)
installed=false
cleanup() {
    rm -rf "$work"
    if $installed; then dpkg --purge korvane >/dev/null || true; fi
}
trap cleanup EXIT
dpkg -i "$deb"
installed=true
fail() { echo "FAIL: $*" >&2; exit 1; }

step "the installed program"
# The program and the library under /usr, not the build tree.
/usr/bin/korvane --version | grep -q '3\.00' || fail "korvane --version"
ldd /usr/bin/korvane | grep -qE '=> (/usr)?/lib/libkorvane\.so\.3 ' || fail "libkorvane not from /usr/lib"
mkdir -p "$work/data/sub"
printf 'korvane\n' >"$work/data/a.txt"
head -c 300000 /dev/zero >"$work/data/sub/b.bin"
(
    cd "$work/data"
    /usr/bin/korvane -q -r -c ../data.sfv .
    /usr/bin/korvane -q -T -r -c ../data.sha256 .
    /usr/bin/korvane -q -a ../data.sfv
    /usr/bin/korvane -q ../data.sha256
    # With -T the header lines are "#" comments, which sha256sum --strict takes.
    sha256sum --strict --quiet -c ../data.sha256
    # A changed file must fail the verification.
    printf 'changed\n' >a.txt
    if /usr/bin/korvane -q -a ../data.sfv >/dev/null; then
        echo "FAIL: a changed file verified" >&2
        exit 1
    fi
) || fail "create and verify with /usr/bin/korvane"

step "installed files"
for file in /usr/share/bash-completion/completions/korvane /usr/share/zsh/vendor-completions/_korvane \
    /usr/share/fish/vendor_completions.d/korvane.fish /usr/share/man/man1/korvane.1.gz \
    /usr/share/doc/korvane/copyright /usr/share/doc/korvane/changelog.Debian.gz \
    /usr/share/doc/korvane/cluster.md /usr/share/doc/korvane/k8s-indexed-job.yaml; do
    [ -f "$file" ] || fail "$file not installed"
done
# bash-completion finds the completion by the command's name.
bash -c 'source /usr/share/bash-completion/bash_completion && __load_completion korvane &&
         complete -p korvane' | grep -q -- '-F _korvane korvane' || fail "bash completion not loaded"
zcat /usr/share/man/man1/korvane.1.gz | grep -q '^\.TH KORVANE 1' || fail "man page"
# The library, its headers and its CMake package serve a project of its own.
cmake -S tests/install/consumer -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/consumer" -j2 >/dev/null
"$work/consumer/consumer" | grep -q 'consumer ok' || fail "consumer built against /usr"

step "remove"
dpkg --purge korvane
installed=false
for file in /usr/bin/korvane /usr/lib/libkorvane.so.3 /usr/share/bash-completion/completions/korvane; do
    [ ! -e "$file" ] || fail "$file left after removal"
done
step "done: $deb"
