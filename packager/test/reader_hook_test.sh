#!/usr/bin/env bash
# brumlet.exe when the installer library's reader crashes, aborts, hangs,
# spins, exhausts its memory (which under Wine no job limits) or tries to
# write what it was handed: one line and status 1 for a reader that fails,
# nothing left beside the package nor in the temporary folder, not even when
# the tool itself is killed while it reads; and a package path too long for
# the installer library.
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

# hook | command:file | what the tool says happened
while IFS='|' read -r hook args what; do
    file="${args#*:}"
    run_wrapper --env "BRUMLET_READER_HOOK=$hook" "$(winpath "$tool")" "${args%%:*}" \
        "$(winpath "$work/$file")"
    expect_code 1 "$hook, $args"
    expected="brumlet: the installer library could not read '$(winpath "$work/$file")' ($what): the package is damaged"
    [[ "$err" == "$expected" ]] || fail "$hook, $args: $err"
    left="$(ls -A "$work" | grep -v -x -e temp -e exit_code_probe.exe | tr '\n' ' ')"
    [[ "$left" == "app-setup.exe app.msi " ]] || fail "$hook, $args: left $left"
done <<'EOF'
crash|info:app.msi|it crashed with exception 0xC0000005
crash|info:app-setup.exe|it crashed with exception 0xC0000005
crash|wrap:app.msi|it crashed with exception 0xC0000005
abort|info:app.msi|it crashed with exit code 3
memory|info:app-setup.exe|it ran out of memory
spin|info:app.msi|it ran past 2 seconds of processor time
hang|info:app-setup.exe|it gave no answer in 4 seconds
EOF

# A reader that writes its package and its standard handles: nothing changes
# and nothing shows, the package reads as usual.
for file in app.msi app-setup.exe; do
    run_wrapper --env "BRUMLET_READER_HOOK=write" "$(winpath "$tool")" info \
        "$(winpath "$work/$file")"
    expect_code 0 "write, $file"
    expect_quiet "write, $file"
    [[ "$out" == *"Checks:"*passed* && "$out" != *written* ]] || fail "write, $file: $out"
done
cmp -s "$4" app.msi || fail "write: the reader changed app.msi"
cmp -s "$5" app-setup.exe || fail "write: the reader changed app-setup.exe"

# Killed while its reader reads, the tool leaves its copy of the package in
# the temporary folder; the next tool that makes a copy removes it.
temp_win="$(winpath "$temp_dir")"
rm -rf "$temp_dir"
mkdir -p "$temp_dir"
"${wine[@]}" exit_code_probe.exe --env "TMP=$temp_win" --env "TEMP=$temp_win" \
    --env BRUMLET_READER_HOOK=hang "$(winpath "$tool")" info "$(winpath "$work/app-setup.exe")" \
    >/dev/null 2>&1 &
probe=$!
tool_pid=""
for _ in $(seq 100); do
    sleep 0.2
    compgen -G "$temp_dir/brm*.msi" >/dev/null || continue
    for proc in $(grep -l -a -F "$(winpath "$tool")" /proc/[0-9]*/cmdline 2>/dev/null); do
        proc="${proc%/cmdline}"
        line="$({ tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null)"
        [[ "$line" == "$(winpath "$tool") info $(winpath "$work/app-setup.exe")"* ]] &&
            tool_pid="${proc#/proc/}"
    done
    [[ -n "$tool_pid" ]] && break
done
if [[ -n "$tool_pid" ]]; then
    # The job ends its reader with it: nobody holds the copy after.
    kill -KILL "$tool_pid"
    wait "$probe"
    [[ -n "$(ls -A "$temp_dir")" ]] || fail "killed: no copy left to remove"
    allow_left=1 win_temp_as="$temp_win" temp_dir="$work/temp-next" \
        run_wrapper "$(winpath "$tool")" info "$(winpath "$work/app-setup.exe")"
    expect_code 0 "after the killed tool"
    left="$(ls -A "$temp_dir")"
    [[ -z "$left" ]] || fail "killed: left in the temporary folder: $left"
    rm -rf "$work/temp-next"
else
    fail "killed: the tool made no copy"
    wait "$probe"
fi

# A path longer than the installer library takes.
top="$work/$(printf 'd%.0s' {1..100})"
long="$top/$(printf 'e%.0s' {1..100})/$(printf 'f%.0s' {1..60})"
mkdir -p "$long"
cp app.msi "$long/app.msi"
run_wrapper "$(winpath "$tool")" info "$(winpath "$long/app.msi")"
expect_code 1 "long path"
[[ "$err" == "brumlet: package '$(winpath "$long/app.msi")' cannot be read: its path is longer than 259 characters, which the installer library cannot open: move it" ]] ||
    fail "long path: $err"
rm -rf "$top"
finish
