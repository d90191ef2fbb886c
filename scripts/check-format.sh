#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it; names each.
#   scripts/check-format.sh [--fix]    --fix rewrites the files in place instead
set -euo pipefail
cd "$(dirname "$0")/.."
# A failure inside a process substitution would escape set -e: the list is taken first.
listing=$(git ls-files '*.cpp' '*.h' '*.c') ||
    { echo "check-format: no file list (git is missing or this is not a git tree)" >&2; exit 1; }
[ -n "$listing" ] || { echo "check-format: git lists no C or C++ file" >&2; exit 1; }
mapfile -t files <<<"$listing"
if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
drifted=()
for file in "${files[@]}"; do
    clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || drifted+=("$file")
done
if [ ${#drifted[@]} -gt 0 ]; then
    echo "Not clang-formatted (scripts/check-format.sh --fix mends them):" >&2
    printf '  %s\n' "${drifted[@]}" >&2
    exit 1
fi
