#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what .clang-format
# makes of it, and names the places.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "All ${#files[@]} C++ files are formatted as .clang-format says."
