#!/usr/bin/env bash
# brumlet.exe when the installer library's reader crashes or hangs: one line,
# status 1, nothing left beside the package nor in the temporary folder.
# (Wine neither enforces a job's memory limit nor reports it back, so the
# memory case is left to Windows.)
#
#   reader_hook_test.sh <source dir> <wine-run.sh> <brumlet-readerhook.exe>
#                       <package.msi> <setup.exe> <work dir> <exit_code_probe.exe>
set -uo pipefail
source "$1/test/support/test_lib.sh"
wine=("$2")
tool="$3"
work="$6"
rm -rf "$work"
mkdir -p "$work"
cp "$4" "$work/app.msi"
cp "$5" "$work/app-setup.exe"
cp "$7" "$work/exit_code_probe.exe"
cd "$work" || exit 1
# The tool's temporary folder, its own: run_wrapper fails when anything is
# left in it.
temp_dir="$work/temp"

for hook in crash hang; do
    case "$hook" in
        crash) what="it crashed with exception 0xC0000005" ;;
        hang) what="it ran past 2 seconds" ;;
    esac
    for args in "info:app.msi" "info:app-setup.exe" "wrap:app.msi"; do
        file="${args#*:}"
        run_wrapper --env "BRUMLET_READER_HOOK=$hook" "$(winpath "$tool")" "${args%%:*}" \
            "$(winpath "$work/$file")"
        expect_code 1 "$hook, $args"
        expected="brumlet: the installer library could not read '$(winpath "$work/$file")' ($what): the package is damaged"
        [[ "$err" == "$expected" ]] || fail "$hook, $args: $err"
        left="$(ls -A "$work" | grep -v -x -e temp -e exit_code_probe.exe | tr '\n' ' ')"
        [[ "$left" == "app-setup.exe app.msi " ]] || fail "$hook, $args: left $left"
    done
done
finish
