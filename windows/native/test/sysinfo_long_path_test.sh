#!/usr/bin/env bash
# An executable placed under a long path must report that whole path, whether
# the path fits the first buffer of 260 characters, just misses it, or needs
# the buffer doubled several times.
#
#   sysinfo_long_path_test.sh <wine-run.sh> <sysinfo_probe.exe> <work dir>
#
# Wine's own CreateProcess stops at 260 characters, so the probe is started
# from the host, where the loader takes paths of any length.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../../test/support/test_lib.sh"

run=$1
probe=$2
work=$3

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

segment="dddddddddddddddddddd with blanks dddddddddddddddddddddddddddddddddddddddddddddddddd"

for length in 259 260 261 520 1100; do
    dir="$work/$length"
    while (( length - ${#dir} - 3 > 150 )); do
        dir="$dir/$segment"
    done
    name_length=$(( length - ${#dir} - 3 ))
    name="p$(printf '%*s' $(( name_length - 5 )) '' | tr ' ' x).exe"
    mkdir -p "$dir"
    cp "$probe" "$dir/$name"

    expected=$(winpath "$dir/$name")
    if (( ${#expected} != length )); then
        echo "test set-up: built a path of ${#expected} characters, not $length"
        exit 2
    fi

    output=$("$run" "$dir/$name" arg | tr -d '\r')
    for line in "I:$expected" "I:arg" "X:arg" "M:$expected" "P:$expected"; do
        if ! grep -qxF -- "$line" <<<"$output"; then
            fail "length $length: missing line ${line:0:2} for the $length-character path"
        fi
    done
    if (( failures > 0 )); then
        printf 'probe output:\n%s\n' "$output"
    fi
done

finish
