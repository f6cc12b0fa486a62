#!/usr/bin/env bash
# Fails when a function in lib/ or app/, or defined in a header of lib/, app/
# or include/, is harder to follow than the limit allows (clang-tidy's
# cognitive complexity), and lists every such function. The Windows sources
# (lib/platform/win32/) are measured too, as clang sees them for a mingw-w64
# target, with the cross compiler's C++ headers.
#   scripts/check-complexity.sh              limit 25, build directory build/tidy
#   scripts/check-complexity.sh 40           another limit
#   BUILD_DIR=build/release scripts/check-complexity.sh
# The compile database comes from a configure of its own unless BUILD_DIR
# names one that already has compile_commands.json; the Windows sources get one
# of their own in $BUILD_DIR/windows. MINGW_CXX names the cross compiler
# (default x86_64-w64-mingw32-g++-posix).
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-25}
build=${BUILD_DIR:-build/tidy}
jobs=${JOBS:-2}
mingw_cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
if ! command -v "$mingw_cxx" >/dev/null; then
    echo "$mingw_cxx is missing: the Windows sources cannot be measured" >&2
    echo "(install g++-mingw-w64-x86-64-posix, or name another in MINGW_CXX)" >&2
    exit 2
fi

if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
          -DKORVANE_TESTS=OFF >/dev/null
fi

# The sources of the library and the program that this configuration builds
# (the other platform's folder is not in the database).
mapfile -t files < <(python3 - "$build/compile_commands.json" "$PWD" <<'EOF'
import json, os, sys
root = sys.argv[2] + os.sep
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    rel = path[len(root):] if path.startswith(root) else ""
    if rel.startswith(("lib/", "app/")) and rel not in seen:
        seen.add(rel)
        print(rel)
EOF
)

# The Windows sources, compiled as the library's platform files are: the
# library's folder and the public headers on the include path, the cross
# compiler's C++ library headers instead of the host's.
win_build="$build/windows"
mkdir -p "$win_build"
mapfile -t win_files < <(git ls-files 'lib/platform/win32/*.cpp')
mapfile -t win_includes < <("$mingw_cxx" -E -x c++ -v - </dev/null 2>&1 |
    sed -n '/#include <...> search starts here:/,/End of search list/p' | grep -E '/c\+\+' |
    sed 's/^ //')
python3 - "$win_build/compile_commands.json" "$PWD" "${#win_includes[@]}" \
    "${win_includes[@]}" "${win_files[@]}" <<'EOF'
import json, os, sys
target, root, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
includes, files = sys.argv[4:4 + count], sys.argv[4 + count:]
flags = ["clang++", "--target=x86_64-w64-windows-gnu", "-std=c++20", "-DNDEBUG", "-nostdinc++"]
flags += ["-isystem" + d for d in includes]
flags += ["-I" + os.path.join(root, "lib"), "-I" + os.path.join(root, "include")]
json.dump([{"directory": root, "file": os.path.join(root, f),
            "arguments": flags + ["-c", os.path.join(root, f)]} for f in files],
          open(target, "w"), indent=1)
EOF

config="{Checks: '-*,readability-function-cognitive-complexity',
 HeaderFilterRegex: '^$PWD/(lib|app|include)/',
 CheckOptions: [{key: readability-function-cognitive-complexity.Threshold, value: $limit},
                {key: readability-function-cognitive-complexity.DescribeBasicIncrements, value: false}]}"

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# The compile database may come from GCC: its warning options that clang does
# not know are no error.
{
    printf '%s\n' "${files[@]}" |
        xargs -P "$jobs" -n 4 clang-tidy --quiet -p "$build" --config="$config" \
            --extra-arg=-Wno-unknown-warning-option
    printf '%s\n' "${win_files[@]}" |
        xargs -P "$jobs" -n 4 clang-tidy --quiet -p "$win_build" --config="$config"
} >"$out" 2>&1 || true

# A file clang-tidy could not compile was not measured: that is no pass.
if grep -E "(^|: )error: " "$out" >&2; then
    echo "clang-tidy could not analyse every file (see above)" >&2
    exit 2
fi

# One row a function: complexity, place, name; most complex first.
rows=$(grep -E "warning: function .* has cognitive complexity of [0-9]+" "$out" |
    sed -E "s|^$PWD/||; s|^([^:]+:[0-9]+):[0-9]+: warning: function '([^']+)' has cognitive complexity of ([0-9]+).*|\3 \1 \2|" |
    sort -u | sort -k1,1nr || true)
if [ -n "$rows" ]; then
    echo "Functions above a cognitive complexity of $limit:"
    printf '%s\n' "$rows" | awk '{printf "  %4d  %-40s %s\n", $1, $2, $3}'
    exit 1
fi
echo "No function in lib/, app/ or their headers (Windows sources included) above a cognitive complexity of $limit."
