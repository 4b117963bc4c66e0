#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, the sanitizer build (address and
# undefined behaviour), and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
echo "== source format =="
bash scripts/check-format.sh

jobs=$(nproc)
for preset in default sanitize; do
  echo "== $preset build =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs" --timeout 600
done

echo "== fuzz targets (clang, libFuzzer) =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/run-fuzzers.sh build-fuzz "${TESSEL_FUZZ_SECONDS:-15}"
