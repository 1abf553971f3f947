#!/usr/bin/env bash
# Runs winapp_probe.exe under Wine and checks what the user gets: the exit
# value, the console lines of a logging run, the last-error line and the one
# message box (seen through Wine's relay trace of MessageBoxW).
#
#   winapp_test.sh <wine-run.sh> <winapp_probe.exe>
set -uo pipefail

wine_run="$1"
probe_dir="$(dirname "$2")"
probe="$(basename "$2")"
source "$(dirname "${BASH_SOURCE[0]}")/../../../test/support/test_lib.sh" || exit 1
cd "$probe_dir" || exit 1

# Runs the probe from Wine's console shell, so that a logging run attaches to
# that console. Sets $out (all console and standard error lines) and $rc.
# Under heavy load Wine's console has once dropped every line of a run whose
# exit code still arrived; a run that should print and printed nothing at all
# is tried again, so a line that is really missing still fails.
run_from_console() {
    local attempt
    for attempt in 1 2 3; do
        out="$("$wine_run" cmd /c "$probe" "$@" 2>&1 </dev/null)"
        rc=$?
        out="$(tr -d '\r' <<<"$out")"
        [[ -n "$out" || "$1" == ok ]] && break
    done
}

expect_rc() {
    [[ "$rc" == "$1" ]] || fail "$2: exit code $rc, expected $1"
}

expect_line() {
    grep -qxE -- "$1" <<<"$out" || fail "$2: no line matching '$1' in:"$'\n'"$out"
}

expect_no_line() {
    if grep -qE -- "$1" <<<"$out"; then
        fail "$2: unexpected line matching '$1' in:"$'\n'"$out"
    fi
}

# Not a logging run: nothing but the plain message reaches standard error.
for value in unset TRUE; do
    if [[ "$value" == unset ]]; then
        unset BRUMLET_DEBUG
    else
        export BRUMLET_DEBUG="$value"
    fi
    case_name="BRUMLET_DEBUG=${value}"
    run_from_console located
    expect_rc 1 "$case_name"
    expect_line 'located failure' "$case_name"
    # Wine shows no box, so its failure is reported too, which writes the
    # plain message once more: every line must still be that message.
    others="$(grep -vx 'located failure' <<<"$out")"
    [[ -z "$others" ]] || fail "$case_name: unexpected lines:"$'\n'"$others"

    run_from_console ok
    expect_rc 0 "$case_name ok"
    [[ -z "$out" ]] || fail "$case_name ok: output '$out'"
done

# A logging run started from a console writes its records there.
export BRUMLET_DEBUG=true
run_from_console ok
expect_rc 0 "logging ok"
expect_line '\[TRACE\] app\.cpp:[0-9]+: Entering app::launch' "logging ok"
expect_line '\[TRACE\] winapp_probe\.cpp:[0-9]+: body ran' "logging ok"
expect_line '\[TRACE\] app\.cpp:0: Exiting app::launch \(entered at app\.cpp:[0-9]+\)' "logging ok"
expect_no_line 'failure|error|Error' "logging ok"

run_from_console located
expect_rc 1 "logging located"
expect_line '\[TRACE\] winapp_probe\.cpp:[0-9]+: cleanup ran' "logging located"
expect_line "\[ERROR\] app\.cpp:[0-9]+: Exception with message 'winapp_probe\.cpp\([0-9]+\) at \{anonymous\}::raisesLocated\(\): located failure' caught" "logging located"
expect_line 'located failure' "logging located"

run_from_console int
expect_rc 1 "logging int"
expect_line '\[ERROR\] app\.cpp:[0-9]+: Unknown exception caught' "logging int"
expect_line 'Unknown error' "logging int"
unset BRUMLET_DEBUG

# The message box: shown once, with the plain message, captioned with the
# executable's file name, with the error icon and nothing else. Without a
# display Wine cannot show it, so its failure is reported through the logger,
# which must not call the box again.
boxes() {
    WINEDEBUG=+relay "$wine_run" "$probe" "$1" 2>&1 >/dev/null </dev/null |
        grep -E 'Call user32\.MessageBoxW\(' || true
}
box_calls="$(boxes located)"
count="$(grep -c . <<<"$box_calls")"
[[ "$count" == 1 ]] || fail "message box: $count calls for one error:"$'\n'"$box_calls"
grep -qE "MessageBoxW\(00000000,[0-9a-f]+ L\"located failure\",[0-9a-f]+ L\"$probe\",00000010\)" \
    <<<"$box_calls" || fail "message box arguments: $box_calls"

box_calls="$(boxes int)"
grep -qE 'L"Unknown error"' <<<"$box_calls" || fail "message box for int: $box_calls"

[[ -z "$(boxes ok)" ]] || fail "message box shown for a run without error"

finish
