#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

build_dir="${BUILD_DIR:-build}"

cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j2
