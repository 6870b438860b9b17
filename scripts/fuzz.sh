#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang only) and runs each over its seed corpus and
# whatever earlier runs added to build-fuzz/corpus/ as a regression test. With NARVU_FUZZ_SECONDS
# above 0 it then fuzzes each target that long. Without clang it says so and succeeds.
#   NARVU_FUZZ_SECONDS=60 scripts/fuzz.sh
# A crash leaves its input in build-fuzz/artifacts/; rerun it with build-fuzz/fuzz/TARGET FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${NARVU_FUZZ_SECONDS:-0}"

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang not found, fuzz targets skipped" >&2
  exit 0
fi
targets=()
for source in fuzz/*_fuzz.cpp; do
  [ -e "$source" ] && targets+=("$(basename "$source" .cpp)")
done
[ ${#targets[@]} -eq 0 ] && exit 0

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNARVU_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target narvu_fuzz_targets

mkdir -p build-fuzz/artifacts
status=0
for target in "${targets[@]}"; do
  binary="build-fuzz/fuzz/$target"
  seeds="fuzz/corpus/$target"
  found="build-fuzz/corpus/$target"
  mkdir -p "$found" "$seeds"
  common=(-artifact_prefix="build-fuzz/artifacts/$target-" -print_final_stats=0)
  if "$binary" "${common[@]}" -runs=0 "$found" "$seeds" >"build-fuzz/$target.log" 2>&1; then
    echo "fuzz regression $target: ok ($(ls "$seeds" | wc -l) seeds, $(ls "$found" | wc -l) found)"
  else
    echo "fuzz regression $target: FAILED (build-fuzz/$target.log)" >&2
    tail -n 30 "build-fuzz/$target.log" >&2
    status=1
    continue
  fi
  if [ "$seconds" -gt 0 ]; then
    # New inputs go to build-fuzz/corpus/; the committed seeds stay as they are.
    if "$binary" "${common[@]}" -max_total_time="$seconds" "$found" "$seeds" >"build-fuzz/$target.log" 2>&1; then
      echo "fuzzing $target for ${seconds}s: ok ($(grep -o 'cov: [0-9]*' "build-fuzz/$target.log" | tail -n 1))"
    else
      echo "fuzzing $target: FAILED (build-fuzz/$target.log)" >&2
      tail -n 30 "build-fuzz/$target.log" >&2
      status=1
    fi
  fi
done
exit $status
