#!/usr/bin/env bash
# What a user sees of a failing wrapper: one message box, captioned with the
# executable's file name, on a virtual X display. The test takes a screenshot
# (kept as an artifact), dismisses the box and checks the exit code.
#
#   wrapper_msgbox_test.sh <shared prefix> <test folder> <prefix copy> <screenshot.png>
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../test/support/test_lib.sh" || exit 1
cd "$2" || exit 1
screenshot="$4"

for tool in Xvfb xdotool xwininfo import convert; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; scripts/setup.sh installs it" >&2; exit 1; }
done

work="$PWD/msgbox-work"
rm -rf "$work"
mkdir -p "$work" "$(dirname "$screenshot")"
rm -f "$screenshot"

# A display of our own: Xvfb picks a free number and tells it through a file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
if [[ ! -s "$work/display" ]]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    kill "$xvfb_pid" 2>/dev/null
    exit 1
fi
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"

cleanup() {
    stop_prefix_server
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
}

# Wine's desktop process is started with the session, so the session must
# begin on this display: a prefix and a server of the test's own.
use_prefix_copy "$1" "$3"
trap cleanup EXIT

temp_dir="$work/temp"
exe="brumlet-wrapper.exe"

# The wrapper without its package fails; it runs in the background until its
# box is dismissed.
(
    run_wrapper "$exe" /qn
    printf '%s\n' "$code" >"$work/code"
    printf '%s\n' "$err" >"$work/err"
    printf '%s\n' "$failures" >"$work/failures"
) &
runner=$!

# Top-level windows titled with the executable's name (Wine adds a 1x1 input
# window of the same process, which has another title).
boxes() {
    xwininfo -root -children 2>/dev/null | grep -F "\"$exe\": (" || true
}

found=""
for _ in $(seq 600); do
    found="$(boxes)"
    [[ -n "$found" ]] && break
    sleep 0.1
done

if [[ -z "$found" ]]; then
    fail "no message box appeared"
else
    sleep 1 # the box's first paint
    count="$(grep -c . <<<"$(boxes)")"
    [[ "$count" == 1 ]] || fail "$count windows titled $exe:"$'\n'"$(boxes)"
    window="$(awk '{print $1; exit}' <<<"$found")"
    import -window root "$screenshot" || fail "no screenshot taken"
    # A drawn box has text, an icon and a button: far more than two colours.
    geometry="$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2}
        /Absolute upper-left X:/{x=$4} /Absolute upper-left Y:/{y=$4}
        END{printf "%dx%d+%d+%d", w, h, x, y}')"
    colours="$(convert "$screenshot" -crop "$geometry" +repage -format '%k' info: 2>/dev/null)"
    [[ "${colours:-0}" -gt 2 ]] || fail "the box at $geometry looks blank ($colours colours)"
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --window "$window" Return
fi

# Dismissed, the wrapper ends; a box still up would keep it waiting.
for _ in $(seq 300); do
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$runner" 2>/dev/null; then
    fail "the wrapper did not end after the box was dismissed"
    stop_prefix_server
fi
wait "$runner"

failures=$((failures + $(cat "$work/failures" 2>/dev/null || echo 1)))
code="$(cat "$work/code" 2>/dev/null)"
err="$(cat "$work/err" 2>/dev/null)"
expect_code -1 "failing wrapper with a message box"
# Shown once: a box that could not be shown would add a second line.
[[ "$(grep -c . <<<"$err")" == 1 ]] || fail "expected one line on standard error:"$'\n'"$err"
expect_match_in "^cannot find resource \(name='msi', type='#10'\)\. System error " "$err" \
    "failing wrapper with a message box"
[[ -z "$(boxes)" ]] || fail "the box is still there after the wrapper ended"

echo "screenshot: $screenshot"
finish
