#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy (bugprone and performance checks) over the
# program's sources; fails on any finding. Configures build-tidy/ for its compile commands.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build-tidy" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The sources include the moc and resource outputs of the build.
cmake --build "$top/build-tidy" --target bumple_os_autogen bumple_widgets_autogen \
    bumple_store_autogen bumple_core_autogen >/dev/null
run-clang-tidy -p "$top/build-tidy" -quiet -j "$(nproc)" "$top/(src|res)/.*\.cpp$"
