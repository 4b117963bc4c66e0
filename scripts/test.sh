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

echo "== driver tests under ThreadSanitizer =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target ovpvrusb_tests ovpvrusb_end_to_end_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/driver/tests/ovpvrusb_tests --gtest_repeat=5 \
  --gtest_shuffle --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1 build-tsan/driver/tests/ovpvrusb_end_to_end_tests --gtest_brief=1

echo "== fuzz targets (clang, libFuzzer) =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/run-fuzzers.sh build-fuzz "${TESSEL_FUZZ_SECONDS:-15}"
