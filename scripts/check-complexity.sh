#!/usr/bin/env bash
# Fails when a function in lib/ or app/ is harder to follow than the limit
# allows (clang-tidy's cognitive complexity), and lists every such function.
#   scripts/check-complexity.sh              limit 25, build directory build/tidy
#   scripts/check-complexity.sh 40           another limit
#   BUILD_DIR=build/release scripts/check-complexity.sh
# The compile database comes from a configure of its own unless BUILD_DIR
# names one that already has compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-25}
build=${BUILD_DIR:-build/tidy}
jobs=${JOBS:-2}

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

config="{Checks: '-*,readability-function-cognitive-complexity',
 CheckOptions: [{key: readability-function-cognitive-complexity.Threshold, value: $limit},
                {key: readability-function-cognitive-complexity.DescribeBasicIncrements, value: false}]}"

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# The compile database may come from GCC: its warning options that clang does
# not know are no error.
printf '%s\n' "${files[@]}" |
    xargs -P "$jobs" -n 4 clang-tidy --quiet -p "$build" --config="$config" \
        --extra-arg=-Wno-unknown-warning-option >"$out" 2>&1 || true

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
echo "No function in lib/ or app/ above a cognitive complexity of $limit."
