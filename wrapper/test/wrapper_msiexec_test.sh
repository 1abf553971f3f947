#!/usr/bin/env bash
# The wrapped sample package installed and removed for real, with Wine's own
# msiexec.exe and msi.dll, in the build's shared prefix.
#
#   wrapper_msiexec_test.sh <wine-run.sh> <test folder> <hello.txt> <corrupt .msi>
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../test/support/test_lib.sh" || exit 1
wine=("$1")
cd "$2" || exit 1
hello_txt="$3"
corrupt_msi="$4"

temp_dir="$PWD/msiexec temp"
# A folder of the user's choice, with a blank and the trailing back slash that
# installer folder properties carry.
target_dir="$PWD/install target"
key='HKCU\Software\Brumlet\Hello'

# Sets $install_dir to the folder the installed product recorded, as a host
# path; empty when the product's key is not there.
read_install_dir() {
    install_dir=""
    local value
    value="$("${wine[@]}" reg query "$key" /v InstallDir 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *InstallDir *REG_SZ *//p')"
    if [[ -n "$value" ]]; then
        install_dir="$("${wine[@]}" winepath -u "$value" 2>/dev/null | tr -d '\r')"
    fi
}

expect_installed_in() {
    local expected="$1" name="$2"
    read_install_dir
    if [[ -z "$install_dir" ]]; then
        fail "$name: the product's registry key is missing"
        return
    fi
    [[ "${install_dir%/}" == "${expected%/}" ]] ||
        fail "$name: installed in '$install_dir', expected '$expected'"
    cmp -s "$install_dir/hello.txt" "$hello_txt" || fail "$name: hello.txt is not in $install_dir"
}

expect_removed() {
    local dir="$1" name="$2"
    read_install_dir
    [[ -z "$install_dir" ]] || fail "$name: the product's registry key is still there"
    [[ ! -e "$dir" ]] || fail "$name: $dir is still there"
}

# Whatever an earlier, interrupted run left installed.
run_wrapper "hello setup.exe" uninstall
rm -rf "$target_dir"

# The default folder, under the user's local application data.
local_app_data="$("${wine[@]}" cmd /c echo %LOCALAPPDATA% </dev/null | tr -d '\r')"
default_dir="$("${wine[@]}" winepath -u "$local_app_data" | tr -d '\r')/Brumlet Hello"

run_wrapper "hello setup.exe" /qn
expect_code 0 "install"
expect_quiet "install"
expect_installed_in "$default_dir" "install"

run_wrapper "hello setup.exe" uninstall
expect_code 0 "uninstall"
expect_quiet "uninstall"
expect_removed "$default_dir" "uninstall"

run_wrapper "hello setup.exe" uninstall
expect_code 1605 "uninstall of a product that is not installed"
expect_quiet "uninstall of a product that is not installed"

run_wrapper "hello setup.exe" /qn "INSTALLDIR=$(winpath "$target_dir")\\"
expect_code 0 "install into a folder with a blank"
expect_installed_in "$target_dir" "install into a folder with a blank"
# The product is removed from where it went, not from the default folder.
run_wrapper "hello setup.exe" uninstall
expect_code 0 "uninstall from a folder with a blank"
expect_removed "$target_dir" "uninstall from a folder with a blank"

# Only the exact word uninstalls: this is an installation, and msiexec gets
# the word as one more argument.
run_wrapper "hello setup.exe" /qn Uninstall
expect_code 0 "capitalised uninstall"
expect_installed_in "$default_dir" "capitalised uninstall"
run_wrapper "hello setup.exe" uninstall
expect_code 0 "uninstall after the capitalised word"
expect_removed "$default_dir" "uninstall after the capitalised word"

# A package msiexec cannot open: its own failure code, passed on unchanged,
# and no error report of the wrapper's.
run_wrapper msiexec.exe /i "$(winpath "$corrupt_msi")" /qn
direct_code="$code"
run_wrapper corrupt-setup.exe /qn
[[ "$direct_code" != 0 ]] || fail "msiexec accepted a corrupt package"
expect_code "$direct_code" "corrupt package"
expect_quiet "corrupt package"

rm -rf "$temp_dir"
finish
