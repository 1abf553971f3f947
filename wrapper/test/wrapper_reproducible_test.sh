#!/usr/bin/env bash
# Builds the bare stub in another build folder and compares it with the one
# given, byte for byte.
#
#   wrapper_reproducible_test.sh <source dir> <stub> <other build dir> <build type> <toolchain>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" stub="$2" other="$3" build_type="$4" toolchain="$5"

cmake -S "$src" -B "$other" -G Ninja -DBRUMLET_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$other.log" 2>&1 ||
    { fail "configure failed: $(tail -n 20 "$other.log")"; finish; }
cmake --build "$other" --target brumlet-wrapper -j 2 >>"$other.log" 2>&1 ||
    { fail "build failed: $(tail -n 20 "$other.log")"; finish; }
again="$other/wrapper/brumlet-wrapper.exe"
if ! cmp -s "$stub" "$again"; then
    fail "the stub differs between build folders in $(cmp -l "$stub" "$again" 2>/dev/null | wc -l) bytes"
    for path in "$src" "$(dirname "$(dirname "$stub")")" "$other"; do
        grep -qaF "$path" "$again" "$stub" && fail "a stub names the folder $path"
    done
fi
finish
