#!/usr/bin/env bash
# brumlet.exe when the installer library's reader crashes or hangs: one line,
# status 1, nothing left beside the package nor in the temporary folder.
# (Wine neither enforces a job's memory limit nor reports it back, so the
# memory case is left to Windows.)
#
#   reader_hook_test.sh <source dir> <wine-run.sh> <brumlet-readerhook.exe>
#                       <package.msi> <setup.exe> <work dir>
set -uo pipefail
source "$1/test/support/test_lib.sh"
wine_run="$2"
tool="$3"
work="$6"
rm -rf "$work"
mkdir -p "$work"
cp "$4" "$work/app.msi"
cp "$5" "$work/app-setup.exe"
temp="$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")/drive_c/users/$(id -un)/Temp"
before="$(ls -A "$temp" 2>/dev/null)"

for hook in crash hang; do
    case "$hook" in
        crash) what="it crashed with exception 0xC0000005" ;;
        hang) what="it ran past 2 seconds" ;;
    esac
    for args in "info:app.msi" "info:app-setup.exe" "wrap:app.msi"; do
        file="${args#*:}"
        BRUMLET_READER_HOOK="$hook" "$wine_run" "$tool" "${args%%:*}" "$(winpath "$work/$file")" \
            >/dev/null 2>"$work.err"
        code=$?
        err="$(tr -d '\r' <"$work.err")"
        [[ "$code" == 1 ]] || fail "$hook, $args: status $code"
        expected="brumlet: the installer library could not read '$(winpath "$work/$file")' ($what): the package is damaged"
        [[ "$err" == "$expected" ]] || fail "$hook, $args: $err"
        left="$(ls -A "$work" | tr '\n' ' ')"
        [[ "$left" == "app-setup.exe app.msi " ]] || fail "$hook, $args: left $left"
        [[ "$(ls -A "$temp" 2>/dev/null)" == "$before" ]] || fail "$hook, $args: left in $temp"
    done
done
finish
