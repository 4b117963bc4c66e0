#!/usr/bin/env bash
# Sets up, builds and runs the program's main job on the built-in emulated receiver.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
./build/cli/tessel-demo
