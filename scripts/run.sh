#!/usr/bin/env bash
# Installs what is missing, builds Bumple (the program only, not its tests) and runs it.
# Arguments go to the program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" run
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    >/dev/null
cmake --build "$top/build" --target bumple bumple_data -- --quiet
exec "$top/build/bumple" "$@"
