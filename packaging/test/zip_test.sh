#!/usr/bin/env bash
# The release zip as a Windows user gets it: one folder brumlet-<version>\
# with the tool in bin\, the stub in share\brumlet\ only and README.txt;
# unzipped, brumlet.exe finds its stub by itself and wraps (under Wine).
#
#   zip_test.sh <source dir> <cross build> <package.msi> <work dir>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" cross="$2" msi="$3" work="$4"

rm -rf "$work"
mkdir -p "$work/unzipped"
(cd "$cross" && cpack -G ZIP -B "$work/zip") >"$work/out" 2>&1 ||
    { fail "cpack: $(tail -n 5 "$work/out")"; finish; }
zip="$(ls "$work"/zip/brumlet-*-win64.zip 2>/dev/null)"
[[ -f "$zip" ]] || { fail "cpack made no brumlet-<version>-win64.zip: $(ls "$work/zip")"; finish; }
unzip -q "$zip" -d "$work/unzipped" || fail "unzip failed"
top="$(ls -A "$work/unzipped")"
[[ "$top" == "$(basename "$zip" -win64.zip)" ]] ||
    fail "the zip's top holds '$top', not the one folder $(basename "$zip" -win64.zip)"
files="$(cd "$work/unzipped/$top" && find . -type f | sort | xargs)"
[[ "$files" == "./README.txt ./bin/brumlet.exe ./share/brumlet/brumlet-wrapper.exe" ]] ||
    fail "the zip holds: $files"

cp "$msi" "$work/app.msi" || { fail "no package $msi"; finish; }
export WINEPREFIX="$cross/wineprefix" BRUMLET_EXE="$work/unzipped/$top/bin/brumlet.exe"
"$src/bin/brumlet" wrap "$work/app.msi" >"$work/out" 2>&1 </dev/null ||
    fail "the unzipped brumlet.exe did not wrap: $(cat "$work/out")"
"$src/bin/brumlet" info "$work/app-setup.exe" >"$work/out" 2>&1 </dev/null ||
    fail "info of its setup program: $(cat "$work/out")"
expect_match_in '\(matches the package\)' "$(tr -d '\r' <"$work/out")" "the zip's setup program"
finish
