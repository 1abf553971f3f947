#!/usr/bin/env bash
# The main job. For now it only sets up and builds; it will package the wrapper
# once the wrapper executable exists.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

build_dir="${BUILD_DIR:-build}"

cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir"

echo "main job: build finished in $build_dir (building only; there is nothing to package yet)"
