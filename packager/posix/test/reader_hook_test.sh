#!/usr/bin/env bash
# The native tool when the installer library's reader crashes, spins, hangs or
# runs out of memory: one line, status 1, nothing left beside the package; and
# when the tool is stopped with its reader for a while, nothing at all.
#
#   reader_hook_test.sh <source dir> <brumlet-readerhook> <package.msi> <work dir>
set -uo pipefail
source "$1/test/support/test_lib.sh"
tool="$2"
work="$4"
rm -rf "$work"
mkdir -p "$work"
cp "$3" "$work/app.msi"
printf 'MZ' >"$work/stub.exe"

for hook in crash spin hang memory flood; do
    case "$hook" in
        flood) what="it answered more than it can hold" ;;
        crash) what="it crashed with signal 11" ;;
        spin) what="it ran past 2 seconds of processor time" ;;
        hang) what="it gave no answer in 4 seconds" ;;
        memory) what="it ran out of memory" ;;
    esac
    for command in "info $work/app.msi" "wrap $work/app.msi --stub $work/stub.exe"; do
        # The tool's memory stays flat whatever its reader says.
        err="$(cd "$work" && BRUMLET_READER_HOOK="$hook" /usr/bin/time -f 'peak %M KiB' -o ../peak \
            "$tool" $command 2>&1 >/dev/null)"
        code=$?
        peak="$(sed -n 's/^peak \([0-9]*\) KiB$/\1/p' "$work/../peak")"
        ((${peak:-0} < 65536)) || fail "$hook, $command: the tool took $(cat "$work/../peak")"
        [[ "$code" == 1 ]] || fail "$hook, $command: status $code"
        [[ "$err" == "brumlet: the installer library could not read '$work/app.msi' ($what): the package is damaged" ]] ||
            fail "$hook, $command: $err"
        left="$(ls -A "$work" | tr '\n' ' ')"
        [[ "$left" == "app.msi stub.exe " ]] || fail "$hook, $command: left $left"
    done
done

# Stopped with its reader (Ctrl-Z) for longer than the reader's processor
# time, then resumed: the time it was stopped is no one's, the package reads.
set -m
BRUMLET_READER_HOOK=slow "$tool" info "$work/app.msi" >"$work/../stopped.out" 2>&1 &
group=$!
sleep 0.4
kill -STOP -"$group"
sleep 3
kill -CONT -"$group"
wait "$group"
code=$?
set +m
[[ "$code" == 0 ]] || fail "stopped and resumed: status $code: $(cat "$work/../stopped.out")"
finish
