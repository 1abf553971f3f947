#!/usr/bin/env bash
# The wrapper's commands against a stand-in for msiexec.exe, which records how
# it was started and exits with the code it is told. The stand-in replaces
# system32\msiexec.exe in a Wine prefix of this test's own.
#
#   wrapper_standin_test.sh <shared prefix> <test folder> <prefix copy> <hello.msi>
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../test/support/test_lib.sh" || exit 1
cd "$2" || exit 1
hello_msi="$4"

unset DISPLAY WAYLAND_DISPLAY
# The prefix's msiexec.exe must be the file on disk, not Wine's built-in one.
WINEDLLOVERRIDES_EXTRA=";msiexec.exe=n"
use_prefix_copy "$1" "$3"
cp msiexec_standin.exe "$WINEPREFIX/drive_c/windows/system32/msiexec.exe" || exit 1

temp_dir="$PWD/standin temp"
report="$PWD/standin-report.txt"
export BRUMLET_STANDIN_REPORT
BRUMLET_STANDIN_REPORT="$(winpath "$report")"
win_temp="$(winpath "$temp_dir")"

# Runs a wrapper with the stand-in exiting with $1; sets $args to the
# arguments the stand-in received, one per line, or "not started".
run_standin() {
    export BRUMLET_STANDIN_EXIT="$1"
    shift
    rm -f "$report" "$report.msi"
    run_wrapper "$@"
    if [[ -e "$report" ]]; then
        args="$(sed -n 's/^arg=//p' "$report" | tr -d '\r')"
    else
        args="not started"
    fi
}

# The package goes to a new "<number>.tmp" folder of the temporary directory,
# which holds a blank here, as it does for many a user name.
package_pattern="$(re_escape "$win_temp")"'\\[0-9]+\.tmp\\main\.msi'

expect_args() {
    local expected="$1" name="$2"
    local first second rest
    first="$(sed -n 1p <<<"$args")"
    second="$(sed -n 2p <<<"$args")"
    rest="$(sed 1,2d <<<"$args")"
    if [[ "$first" != "/i" ]] || ! grep -qxE -- "$package_pattern" <<<"$second" ||
        [[ "$rest" != "$expected" ]]; then
        fail "$name: msiexec got:"$'\n'"$args"$'\n'"expected /i, the package, then:"$'\n'"$expected"
    fi
}

# --- Install: every argument reaches msiexec after "/i" and the package.
run_standin 0 "hello setup.exe"
expect_code 0 "no arguments"
expect_quiet "no arguments"
expect_args "" "no arguments"
cmp -s "$report.msi" "$hello_msi" || fail "no arguments: msiexec did not find the embedded package"

# (The stand-in splits its command line as the C runtime does, which msiexec
# does not: a value ending with a back slash is left to the real msiexec.)
run_standin 0 "hello setup.exe" /qn 'INSTALLDIR=C:\Program Files\Hello World'
expect_code 0 "two arguments"
expect_args $'/qn\nINSTALLDIR=C:\\Program Files\\Hello World' "two arguments"

# Only the exact word selects the uninstall command.
run_standin 0 "hello setup.exe" Uninstall 'uninstall ' UNINSTALL
expect_code 0 "other spellings of uninstall"
expect_args $'Uninstall\nuninstall \nUNINSTALL' "other spellings of uninstall"

# --- msiexec gets the text after the program name exactly as typed: its own
# rules, not the C runtime's, decide what the words are.
typed='/qn INSTALLDIR="C:\adv dir\" P="say ""hi"" there" "" B=1 A=x" /l*v "C:\injected.log'
tail_file="$PWD/standin-typed.txt"
printf '%s' "$typed" >"$tail_file"
run_standin 0 --tail "$(winpath "$tail_file")" "hello setup.exe"
expect_code 0 "typed arguments"
cmdline="$(sed -n 's/^cmdline=//p' "$report" | tr -d '\r')"
[[ "$cmdline" == *'\main.msi" '"$typed" ]] ||
    fail "typed arguments: msiexec's command line does not end with them:"$'\n'"$cmdline"
expect_line_in_re() { grep -qxE -- "$1" "$2" || fail "$3: no line matching '$1' in:"$'\n'"$(cat "$2")"; }

# A line longer than the system takes is refused, not cut short.
printf 'P=%s' "$(head -c 32700 /dev/zero | tr '\0' x)" >"$tail_file"
run_standin 0 --tail "$(winpath "$tail_file")" "hello setup.exe"
expect_code -1 "overlong command line"
expect_match_in "^CreateProcess\(C:.*msiexec\.exe\) refused: the command line has [0-9]+ characters, more than the system's limit of 32766$" \
    "$err" "overlong command line"
[[ "$args" == "not started" ]] || fail "overlong command line: msiexec started"
rm -f "$tail_file"

# --- Another process cannot change, replace, delete or move the package
# while msiexec runs; msiexec reads the embedded bytes whatever it tries.
for how in write replace delete swapdir; do
    export BRUMLET_STANDIN_ATTACK="$how"
    run_standin 0 "hello setup.exe" /qn
    expect_code 0 "attack by $how"
    expect_line_in_re 'attack=refused\r?' "$report" "attack by $how"
    cmp -s "$report.msi" "$hello_msi" || fail "attack by $how: msiexec read another package"
done
# Only under Wine: NTFS refuses to rename a folder while a file below it is
# open, Wine allows it. Then it can only be noticed, msiexec's exit code is
# told, and nothing is deleted: the folder's handles lead to the old place,
# its path to the new folder the stand-in made.
export BRUMLET_STANDIN_ATTACK=swapparent
allow_left=1 run_standin 1603 "hello setup.exe" /qn
expect_code -1 "attack by swapping the parent"
expect_match_in '^\[.*\.tmp\] was moved or replaced by another process while msiexec ran; msiexec.s exit code was 1603$' \
    "$err" "attack by swapping the parent"
[[ "$(cat "$temp_dir"/*.tmp/main.msi)" == planted ]] ||
    fail "attack by swapping the parent: the stand-in's folder was touched"
cmp -s "$temp_dir".old/*.tmp/main.msi "$hello_msi" ||
    fail "attack by swapping the parent: the package moved with the parent was touched"
rm -rf "$temp_dir.old"
unset BRUMLET_STANDIN_ATTACK

# --- A package still read by another process when msiexec ends is waited for
# a moment, so the folder goes all the same.
export BRUMLET_STANDIN_HOLD=1500
run_standin 0 "hello setup.exe" /qn
expect_code 0 "package held after msiexec"
unset BRUMLET_STANDIN_HOLD

# --- A temporary folder of 250 characters, so that the package path is
# longer than MAX_PATH: msiexec gets the short form, which Wine gives every
# long name. Not more: a TEMP longer than MAX_PATH is refused by
# GetTempPathW itself. The folder lies on S:, a drive of this prefix's own,
# so that no folder above it has a shorter form, wherever the build tree lies.
# Sets $temp_dir to that folder on the host and $win_temp_as to its Windows
# form, made of names of $1 characters.
long_drive="$PWD/standin long"
ln -sfn "$long_drive" "$WINEPREFIX/dosdevices/s:"
long_temp() {
    temp_dir="$long_drive"
    win_temp_as='S:'
    local name
    while :; do
        room=$((250 - ${#win_temp_as} - 1))
        ((room > 0)) || break
        name="$(head -c $((room < $1 ? room : $1)) /dev/zero | tr '\0' l)"
        temp_dir+="/$name"
        win_temp_as+="\\$name"
    done
}
saved_temp_dir="$temp_dir"
long_temp 40
run_standin 0 "hello setup.exe" /qn
expect_code 0 "long temporary folder"
package="$(sed -n 2p <<<"$args")"
[[ ${#package} -lt 260 && "$package" == *'.tmp\main.msi' ]] ||
    fail "long temporary folder: msiexec got ${#package} characters: $package"
cmp -s "$report.msi" "$hello_msi" || fail "long temporary folder: msiexec did not find the embedded package"
rm -rf "$long_drive"
# Names that are 8.3 names already have no shorter form.
long_temp 8
run_standin 0 "hello setup.exe" /qn
expect_code -1 "long temporary folder of short names"
expect_match_in '^\[S:.*\\main\.msi\] is longer than 259 characters, which Windows Installer may not take, and the volume gives no shorter name for it: set TEMP to a shorter folder$' \
    "$err" "long temporary folder of short names"
[[ "$(wc -l <<<"$err")" == 1 && "$args" == "not started" ]] ||
    fail "long temporary folder of short names: msiexec got: $args; stderr: $err"
rm -rf "$long_drive"
rm -f "$WINEPREFIX/dosdevices/s:"
unset win_temp_as
temp_dir="$saved_temp_dir"

# --- TEMP at the root of a drive, as a RAM disk has it: T:, a drive of this
# prefix's own, mapped to a folder.
saved_temp_dir="$temp_dir"
temp_dir="$PWD/standin drive"
ln -sfn "$temp_dir" "$WINEPREFIX/dosdevices/t:"
win_temp_as='T:\' run_standin 0 "hello setup.exe" /qn
expect_code 0 "TEMP at a drive root"
expect_quiet "TEMP at a drive root"
cmp -s "$report.msi" "$hello_msi" || fail "TEMP at a drive root: msiexec did not find the embedded package"
rm -f "$WINEPREFIX/dosdevices/t:"
rm -rf "$temp_dir"
temp_dir="$saved_temp_dir"

# --- Folders nested 10,000 deep put into the package's folder while msiexec
# runs: the removal empties 64 levels and leaves the rest with a warning, and
# the run's exit code stays msiexec's. (Made here: Wine takes minutes to make
# them one in another.)
nest="$PWD/standin nest"
mkdir -p "$nest"
python3 -c 'import os, sys
os.chdir(sys.argv[1])
for _ in range(10000): os.mkdir("d"); os.chdir("d")' "$nest" || exit 1
export BRUMLET_STANDIN_PUT="$(winpath "$nest/d")" BRUMLET_DEBUG=true
allow_left=1 run_standin 1603 "hello setup.exe" /qn
unset BRUMLET_STANDIN_PUT BRUMLET_DEBUG
expect_code 1603 "deep folders"
expect_line_in_re 'put=done\r?' "$report" "deep folders"
expect_match_in '^\[WARNING\] PackageFolder\.cpp:[0-9]+: \[.*\.tmp\] directory could not be deleted: \[.*\.tmp(\\d){65}\] lies more than 64 folders deep, and is not followed\. It stays behind$' \
    "$err" "deep folders"
[[ "$(ls -A "$temp_dir"/*.tmp)" == d && "$(find "$temp_dir" -name d | wc -l)" == 10000 ]] ||
    fail "deep folders: not just the nested folders left: $(find "$temp_dir" -maxdepth 3)"
rm -rf "$temp_dir" "$nest"

# --- A full disk is reported with the file and the system's reason. Needs a
# small file system of its own, which only root can mount.
disk="$PWD/standin-full-disk"
mkdir -p "$disk"
if mount -t tmpfs -o size=8k tmpfs "$disk" 2>/dev/null; then
    saved_temp_dir="$temp_dir"
    temp_dir="$disk/temp"
    run_standin 0 "hello setup.exe" /qn
    expect_code -1 "full disk"
    expect_match_in '^WriteFile\(.*\\-?[0-9]+\.tmp\\main\.msi\) failed\. System error \[112\]\(.+\)$' \
        "$err" "full disk"
    [[ "$args" == "not started" ]] || fail "full disk: msiexec started"
    temp_dir="$saved_temp_dir"
    # Lazily: the wineserver may still hold the folder for a moment.
    umount -l "$disk"
else
    echo "full disk: not tested, no file system can be mounted here"
fi
rmdir "$disk"

# --- msiexec's exit code is the wrapper's, all 32 bits, with no error report.
for exit in 1603 0xC0000005; do
    run_standin "$exit" "hello setup.exe" /qn
    expect_code "$(printf '%d' "$(( (exit ^ 0x80000000) - 0x80000000 ))")" "msiexec exiting with $exit"
    expect_quiet "msiexec exiting with $exit"
done

# --- Uninstall: msiexec is not involved, and a product the installer does not
# know is refused with its status, not reported as an error.
run_standin 0 "hello setup.exe" uninstall
run_standin 0 "hello setup.exe" /qn uninstall
expect_code 1605 "uninstall after another word"
expect_quiet "uninstall after another word"
[[ "$args" == "not started" ]] || fail "uninstall started msiexec with:"$'\n'"$args"

# --- A wrapper without its resources, or with a product code that is none,
# fails with -1 and the plain message; msiexec is never started.
system_error='\. System error \[[0-9]+\]\(.+\)$'
run_standin 0 brumlet-wrapper.exe /qn
expect_code -1 "no package"
expect_match_in "^cannot find resource \(name='msi', type='#10'\)$system_error" "$err" "no package"
# Once: a message box that cannot be shown (no display) adds nothing.
[[ "$(wc -l <<<"$err")" == 1 ]] || fail "no package: more than one line on standard error:"$'\n'"$err"
[[ "$args" == "not started" ]] || fail "no package: msiexec started"

run_standin 0 brumlet-wrapper.exe uninstall
expect_code -1 "no product code"
expect_match_in "^cannot find resource \(name='product_code', type='#10'\)$system_error" "$err" \
    "no product code"

run_standin 0 bad-code-setup.exe uninstall
expect_code -1 "product code that is no GUID"
expect_line_in "IIDFromString(not-a-product-code) failed" "$err" "product code that is no GUID"

# --- A logging run traces the whole install, the temporary folder included.
# The folder, as its creation is traced.
created_dir() {
    grep -oE 'Created \[[^]]*\.tmp\\?\] directory' <<<"$err" | head -1 |
        sed -E 's/^Created \[//; s/\\?\] directory$//'
}

export BRUMLET_DEBUG=true
run_standin 1603 "hello setup.exe" /qn
expect_code 1603 "logging run"
expect_match_in '^\[TRACE\] app\.cpp:[0-9]+: Entering app::launch$' "$err" "logging run"
tmp_dir="$(created_dir)"
[[ -n "$tmp_dir" ]] || fail "logging run: no temporary folder created in:"$'\n'"$err"
msiexec='C:\\windows\\system32\\msiexec\.exe'
expect_match_in "CreateProcess\($msiexec, $msiexec /i \"$(re_escape "$tmp_dir")\\\\main\.msi\" /qn\) succeeded; PID=[0-9]+$" \
    "$err" "logging run"
expect_match_in 'Process with PID=[0-9]+ terminated\. Exit code=1603$' "$err" "logging run"
expect_match_in "^\[TRACE\] [A-Za-z]+\.cpp:[0-9]+: Deleted \[$(re_escape "$tmp_dir")\] directory$" \
    "$err" "logging run"
expect_match_in '^\[TRACE\] app\.cpp:[0-9]+: Exiting app::launch' "$err" "logging run"

# Without the package the folder is made and removed again.
run_standin 0 brumlet-wrapper.exe
expect_code -1 "logging run without package"
tmp_dir="$(created_dir)"
[[ -n "$tmp_dir" ]] || fail "logging run without package: no temporary folder in:"$'\n'"$err"
expect_match_in "Deleted \[$(re_escape "$tmp_dir")\] directory$" "$err" "logging run without package"
unset BRUMLET_DEBUG

rm -f "$report" "$report.msi"
rm -rf "$temp_dir"
finish
