#!/usr/bin/env bash
# The setup program against a native racer (folder_racer.c) that swaps its
# temporary folder, its package and what the removal walks for links, many
# times over, with the stand-in msiexec of wrapper_standin_test.sh. Whoever
# wins each race: the stand-in reads our package or none, nothing is written
# into the racer's folders, nothing outside the setup program's folder is
# deleted, and the run either succeeds or exits with -1 and its message.
# Under Wine only: on Windows the new folder cannot be raced at all (it is
# created and opened in one step), and symbolic links need a privilege,
# which junctions do not.
#
#   wrapper_racer_test.sh <shared prefix> <test folder> <prefix copy> <hello.msi> <racer>
#                         [attempts per variant]
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../test/support/test_lib.sh" || exit 1
cd "$2" || exit 1
hello_msi="$4"
racer="$5"
attempts="${6:-12}"

unset DISPLAY WAYLAND_DISPLAY
WINEDLLOVERRIDES_EXTRA=";msiexec.exe=n"
use_prefix_copy "$1" "$3"
cp msiexec_standin.exe "$WINEPREFIX/drive_c/windows/system32/msiexec.exe" || exit 1
# Starts Wine's own processes, so that the server serves only the setup
# program during the races.
"${wine[@]}" cmd /c exit </dev/null >/dev/null 2>&1

# The prefix's server: its working folder is named after the prefix's device
# and inode.
server_dir="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
server=""
for p in /proc/[0-9]*; do
    if [[ "$(cat "$p/comm" 2>/dev/null)" == wineserver* &&
        "$(readlink "$p/cwd" 2>/dev/null)" == */"$server_dir" ]]; then
        server="${p#/proc/}"
    fi
done
[[ -n "$server" ]] || { fail "no wineserver serves $WINEPREFIX"; finish; }
# The racer stops the server for each look; it must never stay stopped.
trap 'kill -CONT "$server" 2>/dev/null; stop_prefix_server' EXIT

temp_dir="$PWD/racer temp"
scratch="$PWD/racer scratch"
report="$PWD/racer-report.txt"
export BRUMLET_STANDIN_REPORT
BRUMLET_STANDIN_REPORT="$(winpath "$report")"
# In another case than on disk, as the attack was first seen: Wine's lookup
# of the name then takes longer.
win_temp="$(winpath "$PWD/RACER TEMP")"

# One run of "hello setup.exe /qn" against the racer playing $1; sets $code,
# $err, $swaps and $left (the setup program's folder if it stayed).
attempt() {
    local variant="$1" i="$2"
    rm -rf "$temp_dir" "$scratch" "$report" "$report.msi"
    mkdir -p "$temp_dir" "$scratch/decoy" "$scratch/planted" "$scratch/victim"
    echo planted >"$scratch/planted/main.msi"
    echo victim >"$scratch/victim/victim.txt"
    echo victim >"$scratch/victim.txt"
    ln -s "$scratch/victim" "$scratch/dirlink"
    ln -s "$scratch/victim.txt" "$scratch/filelink"
    "$racer" "$variant" "$temp_dir" "$scratch" "$server" "$i" >"$scratch.out" &
    local racer_pid=$!
    for _ in $(seq 200); do
        [[ -e "$scratch/ready" ]] && break
        sleep 0.01
    done
    "${wine[@]}" exit_code_probe.exe --env "TMP=$win_temp" --env "TEMP=$win_temp" \
        "hello setup.exe" /qn >"$scratch.code" 2>"$scratch.err" </dev/null
    kill -TERM "$racer_pid"
    wait "$racer_pid"
    code="$(sed -n 's/^exit code \(-\{0,1\}[0-9]*\) (.*$/\1/p' "$scratch.code" | tr -d '\r')"
    err="$(tr -d '\r' <"$scratch.err")"
    swaps="$(sed -n 's/^swaps=\([0-9]*\).*/\1/p' "$scratch.out")"
    left="$(find "$temp_dir" -mindepth 1 -maxdepth 1 -name '*.tmp' -type d | head -1)"
    local name="$variant $i"

    # What holds whoever won.
    [[ "$code" == 0 || "$code" == -1 ]] || fail "$name: exit code $code; stderr: $err"
    [[ "$code" == 0 || -n "$err" ]] || fail "$name: -1 without a message"
    if [[ -e "$report" ]]; then
        cmp -s "$report.msi" "$hello_msi" || fail "$name: msiexec read another package"
    fi
    grep -q 'decoy_written=0' "$scratch.out" || fail "$name: something was written into the decoy"
    [[ -z "$(ls -A "$scratch/decoy")" ]] || fail "$name: the decoy holds $(ls -A "$scratch/decoy")"
    [[ "$(find "$scratch" -name main.msi)" == "$scratch/planted/main.msi" ]] ||
        fail "$name: main.msi outside the setup program's folder: $(find "$scratch" -name main.msi)"
    [[ "$(cat "$scratch/planted/main.msi" "$scratch/victim/victim.txt" "$scratch/victim.txt" \
        2>&1)" == $'planted\nvictim\nvictim' ]] || fail "$name: a file outside the folder was changed"
}

# How the races the racer won ended: "hold" when the folder or package was
# refused before msiexec started, "removal" when the removal met a link and
# left the folder.
declare -A won
for variant in link package removal; do
    won[$variant:hold]=0
    won[$variant:removal]=0
    for ((i = 1; i <= attempts; ++i)); do
        attempt "$variant" "$i"
        if [[ "$variant" == link ]]; then
            # The folder renamed away and a link put in its place between
            # its creation and its opening: Windows creates and opens in one
            # step, Wine in one request of its server, and this is refused.
            if ((swaps > 0)); then
                won[$variant:hold]=$((won[$variant:hold] + 1))
                expect_code -1 "$variant $i (won)"
                expect_match_in 'is not the folder this program created' "$err" "$variant $i"
            else
                expect_code 0 "$variant $i (lost)"
            fi
        elif [[ "$code" == -1 ]]; then
            # main.msi swapped for a link between the writer's close and the
            # hold: refused.
            won[$variant:hold]=$((won[$variant:hold] + 1))
            expect_match_in 'main\.msi\] was changed by another process before msiexec started$' \
                "$err" "$variant $i"
        elif [[ -n "$left" ]]; then
            # A link met by the removal is kept: the folder stays, the run
            # succeeds.
            won[$variant:removal]=$((won[$variant:removal] + 1))
        elif [[ -n "$(ls -A "$temp_dir")" ]]; then
            fail "$variant $i: left in the temporary folder: $(ls -A "$temp_dir")"
        fi
    done
    if [[ "$variant" == link ]]; then
        echo "$variant: $attempts runs; the racer won the race to the new folder" \
            "$((won[$variant:hold])) times"
    else
        echo "$variant: $attempts runs; the racer won the race to main.msi" \
            "$((won[$variant:hold])) times before the hold, $((won[$variant:removal])) at the removal"
    fi
done

rm -rf "$temp_dir" "$scratch" "$scratch".{out,code,err} "$report" "$report.msi"
finish
