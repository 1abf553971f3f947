#!/usr/bin/env bash
# A package of more than 200 MB through the packaging tool: wrapped, read by
# info, extracted byte for byte, installed and removed with Wine's msiexec.
#
#   packager_large_test.sh <source dir> <build dir> <work dir>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" build="$2" work="$3"
export WINEPREFIX="$build/wineprefix" BRUMLET_EXE="$build/packager/brumlet.exe"
wine_run="$build/wine-run.sh"

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# Random bytes: the cabinet cannot make them smaller.
head -c $((210 * 1024 * 1024)) /dev/urandom >"$work/large.bin"
# wixl takes file sources relative to the folder it runs in.
cp "$src"/packager/test/tool_* "$work/"
(cd "$work" && wixl -o large.msi -D "ProductCode={6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}" \
    -D Large=large.bin tool_package.wxs) || { fail "wixl failed"; finish; }
size="$(stat -c %s "$work/large.msi")"
((size > 200 * 1000 * 1000)) || fail "the package has only $size bytes"

"$src/bin/brumlet" wrap "$work/large.msi" -o "$work/large-setup.exe" >/dev/null ||
    fail "wrap failed"
info="$("$src/bin/brumlet" info "$work/large-setup.exe" | tr -d '\r')"
expect_match_in "^Package size: +$size bytes$" "$info" "info"
expect_match_in "\(matches the package\)$" "$info" "info"
"$src/bin/brumlet" extract "$work/large-setup.exe" -o "$work/back.msi" >/dev/null ||
    fail "extract failed"
cmp -s "$work/large.msi" "$work/back.msi" || fail "the extracted package differs"
rm -f "$work/back.msi" "$work/large.msi"

"$wine_run" "$work/large-setup.exe" uninstall </dev/null >/dev/null 2>&1
"$wine_run" "$work/large-setup.exe" /qn </dev/null >/dev/null 2>&1
status=$?
[[ "$status" == 0 ]] || fail "install: exit code $status"
installed="$(find "$WINEPREFIX/drive_c/users" -path '*Brumlet Tool Test*' -name large.bin)"
if [[ -z "$installed" ]] || ! cmp -s "$installed" "$work/large.bin"; then
    fail "large.bin not installed intact"
fi
"$wine_run" "$work/large-setup.exe" uninstall </dev/null >/dev/null 2>&1
status=$?
[[ "$status" == 0 ]] || fail "uninstall: exit code $status"
left="$(find "$WINEPREFIX/drive_c/users" -path '*Brumlet Tool Test*' | wc -l)"
[[ "$left" == 0 ]] || fail "$left files left after removal"
finish
