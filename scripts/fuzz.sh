#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/fuzz_*.cpp) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and runs each for a while on a copy of its seed
# corpus (fuzz/corpus/<target>/; new inputs go to build-fuzz/corpus/<target>/).
#
#   scripts/fuzz.sh [SECONDS [TARGET...]]    SECONDS per target, 60 unless given
#
# Exits non-zero when a target fails to build or finds a crash; the input that crashed it is
# left as build-fuzz/artifacts/<target>-crash-*, to be turned into a unit test.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
seconds="${1:-60}"
shift || true

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$top"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUMPLE_FUZZ=ON -DBUMPLE_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# The import target writes a hive for every input: keep that off the disk where possible.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
mkdir -p "$build/artifacts"
failed=0
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  seeds=()
  [ -d "$top/fuzz/corpus/$target" ] && seeds=("$top/fuzz/corpus/$target")
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$work" "${seeds[@]}"; then
    echo "== $target: FAILED (see $build/artifacts/)"
    failed=1
  fi
done
exit "$failed"
