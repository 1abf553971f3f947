#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

build_dir="${BUILD_DIR:-build}"
host_dir="${HOST_BUILD_DIR:-build-host}"

# The native tool, the image core's tests under the sanitizers and its fuzz
# targets: quick, so they go first.
CC=clang CXX=clang++ cmake -S . -B "$host_dir" -G Ninja -DBRUMLET_HOST_TOOL=ON
cmake --build "$host_dir"
ctest --test-dir "$host_dir" --output-on-failure -j2

# The Windows programs, cross-compiled, and everything that runs them under Wine.
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j2
