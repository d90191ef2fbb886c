#!/usr/bin/env bash
# Installs what is missing, checks the sources' formatting, builds Bumple and runs the whole
# test suite: the unit, scenario, real-socket and end-to-end tests inside a private network
# namespace (scripts/netns.sh; nothing can leave the machine there), then the time-boxed
# fuzzers and the suite again in their build, under AddressSanitizer (with its leak checker)
# and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" test
"$top/scripts/check-format.sh"
jobs=${BUMPLE_JOBS:-2}

suite() { # build-dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    # Tests that need the network's isolation fail rather than skip here.
    "$top/scripts/netns.sh" env BUMPLE_REQUIRE_NETNS=1 sh -c \
        'cd "$0" && ctest --output-on-failure --timeout 300' "$dir"
}

suite "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
if [ "${BUMPLE_QUICK:-0}" != 1 ]; then
    "$top/scripts/fuzz.sh" "${BUMPLE_FUZZ_SECONDS:-20}"
    # The fuzzers' build carries AddressSanitizer and UndefinedBehaviorSanitizer through the
    # whole core: the suite runs again there. The leak checker takes whole stacks (the fast
    # unwinder stops inside libraries built without frame pointers), so that the library
    # patterns of the suppressions match.
    ASAN_OPTIONS=detect_leaks=1 \
        LSAN_OPTIONS=suppressions="$top/tests/lsan.supp":fast_unwind_on_malloc=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        suite "$top/build-fuzz" -DBUILD_TESTING=ON
fi
echo "All tests passed."
