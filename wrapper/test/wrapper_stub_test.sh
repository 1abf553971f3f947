#!/usr/bin/env bash
# The shipped executables as Windows sees them before running them: x64,
# GUI subsystem (no console), importing nothing but Windows system DLLs (a
# setup program is one file), and carrying the manifest that makes Windows
# start it without elevation. The resource section that carries a package
# starts on a 4 KiB boundary of the file, so Wine maps it instead of reading
# the package into memory; the stub itself is linked with 512-byte alignment
# and stays small. Each carries the mark the packaging tool takes a stub by.
#
#   wrapper_stub_test.sh <objdump> <executable>...
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../test/support/test_lib.sh" || exit 1
objdump="$1"
shift

# Present on every Windows installation; msi.dll is not among them on
# purpose: it is bound at run time from the system directory.
system_dlls=" advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
    shell32.dll shlwapi.dll user32.dll version.dll "

for exe in "$@"; do
    name="$(basename "$exe")"
    dump="$("$objdump" -p "$exe")" || { fail "$name: $objdump failed"; continue; }
    grep -qE '^Magic[[:space:]]+020b' <<<"$dump" || fail "$name: not a PE32+ (x64) image"
    grep -qE '^Subsystem[[:space:]]+00000002' <<<"$dump" || fail "$name: not a Windows GUI program"
    grep -qE '^FileAlignment[[:space:]]+0*200$' <<<"$dump" || fail "$name: file alignment is not 512"
    sections="$("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2, $6 }')"
    grep -q '^\.rsrc ' <<<"$sections" || fail "$name: no resource section"
    while read -r section offset; do
        ((0x$offset % 512 == 0)) || fail "$name: $section starts at file offset 0x$offset"
        if [[ "$section" == .rsrc ]] && grep -q '^\.rsrc~ ' <<<"$sections"; then
            ((0x$offset % 4096 == 0)) || fail "$name: the package's .rsrc starts at 0x$offset"
        fi
    done <<<"$sections"
    if ! grep -q '^\.rsrc~ ' <<<"$sections"; then
        size=$(stat -c %s "$exe")
        ((size <= 1050000)) || fail "$name: the bare stub has $size bytes, more than 1,050,000"
    fi
    # grep -c reads to the end: with -q, tr could die of a closed pipe and pipefail
    # would count that against the stub.
    tr -d '\0' <"$exe" | grep -ac 'BRUMLET_STUB' >/dev/null || fail "$name: no BRUMLET_STUB mark"
    imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]')"
    [[ -n "$imports" ]] || fail "$name: no import table found"
    for dll in $imports; do
        [[ "$system_dlls" == *" $dll "* ]] || fail "$name imports $dll"
    done

    manifest="$(tr -d '\0' <"$exe" | grep -aoE '<requestedExecutionLevel [^>]*>|<supportedOS [^>]*>')"
    expect_match_in 'requestedExecutionLevel level="asInvoker"' "$manifest" "$name manifest"
    # Windows 10 and 11 share one entry.
    expect_match_in 'supportedOS Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"' "$manifest" \
        "$name manifest"
done
finish
