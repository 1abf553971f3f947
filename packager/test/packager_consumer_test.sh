#!/usr/bin/env bash
# Brumlet used by another CMake project through add_subdirectory(): only
# what the setup program needs is built (no tests, no GoogleTest), without
# running Wine (the packaging tool is built for the build machine), the setup
# program carries its own runtime and installs and removes the sample in a
# fresh Wine prefix, and a PRODUCT_CODE that the package contradicts stops
# the build with both codes named. A DLL of the consumer's that links the
# library with the defaults builds and works: the library's objects carry no
# link-time bytecode into links that did not ask for it.
#
#   packager_consumer_test.sh <source dir> <consumer project> <build dir> <objdump>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" project="$2" build="$3" objdump="$4"

# The compiled objects may stay from an earlier run; the prefix never does.
rm -rf "$build/wineprefix" "$build/wineprefix.lock"
cmake -S "$project" -B "$build" -G Ninja -DBRUMLET_SOURCE_DIR="$src" >"$build.log" 2>&1 ||
    { fail "configure failed: $(tail -n 20 "$build.log")"; finish; }
trap '"$build/wine-run.sh" --stop-server >/dev/null 2>&1' EXIT

# Cross-building the setup program runs no Wine: the build machine's own
# tool wraps. A Wine started by the build would fail here.
BRUMLET_WINE=false BRUMLET_WINESERVER=false cmake --build "$build" --target consumer-setup \
    >>"$build.log" 2>&1 || { fail "build failed: $(tail -n 20 "$build.log")"; finish; }
grep -q 'host-tool/packager/posix/brumlet wrap' "$build/build.ninja" ||
    fail "the consumer's build does not wrap with the native tool"
[[ ! -e "$build/wineprefix" ]] || fail "building the setup program made a Wine prefix"
if grep -q gtest "$build/build.ninja"; then
    fail "the consumer's build knows GoogleTest targets"
fi
setup="$build/consumer-setup.exe"
bash "$src/wrapper/test/wrapper_stub_test.sh" "$objdump" "$setup" >/dev/null 2>"$build.stub" ||
    fail "the setup program's form: $(cat "$build.stub")"

"$build/wine-run.sh" "$setup" /qn </dev/null >/dev/null 2>&1
status=$?
[[ "$status" == 0 ]] || fail "install in a fresh prefix: exit code $status"
"$build/wine-run.sh" reg query 'HKCU\Software\Brumlet\Hello' >/dev/null 2>&1 ||
    fail "the sample's registry key is missing after the installation"
"$build/wine-run.sh" "$setup" uninstall </dev/null >/dev/null 2>&1
status=$?
[[ "$status" == 0 ]] || fail "uninstall: exit code $status"

# Linked with the defaults, objects with link-time bytecode are optimised
# across anyway, by flags that the consumer never chose (MinGW GCC 12 crashed).
if cmake --build "$build" --target consumer_probe >"$build.dll" 2>&1; then
    lto_sections="$("$objdump" -h "$build/brumlet/libbrumlet_native.a" | grep -c '\.gnu\.lto_')"
    [[ "$lto_sections" == 0 ]] ||
        fail "the library that consumers link carries $lto_sections link-time bytecode sections"
    answer="$("$build/wine-run.sh" "$build/consumer_probe.exe" </dev/null 2>/dev/null | tr -d '\r')"
    [[ "$answer" == "{D0AB6657-814E-4B30-AF5E-BB2ADCFE65DC}" ]] ||
        fail "the consumer's DLL answered '$answer'"
else
    fail "a DLL that links brumlet_win with the defaults: $(tail -n 20 "$build.dll")"
fi

if BRUMLET_WINE=false cmake --build "$build" --target consumer-stale-code >"$build.stale" 2>&1; then
    fail "a stale PRODUCT_CODE did not stop the build"
fi
stale="$(tr -d '\n' <"$build.stale")"
expect_match_in 'PRODUCT_CODE +\{D0AB6657-814E-4B30-AF5E-000000000001\} +differs.*\{D0AB6657-814E-4B30-AF5E-BB2ADCFE65DC\}' \
    "$stale" "stale PRODUCT_CODE"
[[ ! -e "$build/consumer-stale-code.exe" ]] || fail "a setup program was written for the stale code"
finish
