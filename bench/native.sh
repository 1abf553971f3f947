#!/usr/bin/env bash
# Prints how long the native tool takes to wrap a package of about 10 KB
# (the sample) and one of 512 MiB, end to end as a user runs it, beside `cp`
# of the same file (with and without a flush to disk) and beside brumlet.exe
# doing the same under Wine (a wineserver kept running, as on a machine that
# used Wine before). Medians of N runs, each writing a new file; the package
# is read from the page cache.
#
#   bash bench/native.sh [-n runs] [host build] [cross build]
#       (defaults: 11 runs, build-host, build; build both first)
set -euo pipefail

runs=11
if [[ "${1:-}" == -n ]]; then
    runs="$2"
    shift 2
fi
cd "$(dirname "${BASH_SOURCE[0]}")/.."
host="$(cd "${1:-build-host}" && pwd)"
cross="$(cd "${2:-build}" && pwd)"
tool="$host/packager/posix/brumlet"
stub="$cross/wrapper/brumlet-wrapper.exe"
exe="$cross/packager/brumlet.exe"
wine_run="$cross/wine-run.sh"
for f in "$tool" "$stub" "$exe"; do
    [[ -f "$f" ]] || { echo "no $f: build both trees first" >&2; exit 1; }
done
work="$host/bench-native"
rm -rf "$work"
mkdir -p "$work"

source bench/packages.sh
source test/support/test_lib.sh
small="$work/hello.msi"
(cd samples && wixl -o "$small" hello.wxs)
large="$(bench_package 512 "$cross")"
cat "$large" >/dev/null

"$wine_run" --start-server >/dev/null
trap '"$wine_run" --stop-server >/dev/null; rm -rf "$work"' EXIT

# One timed run in milliseconds (tenths kept): the output of the run before
# is deleted and the disk settled first, so no run pays for another's writes.
timed() {
    local out="$1"
    shift
    rm -f "$out"
    sync
    local start end
    start="$(date +%s%N)"
    "$@" >/dev/null
    end="$(date +%s%N)"
    echo $(((end - start) / 100000))
}

median() {
    tr ' ' '\n' <<<"$1" | grep . | sort -n |
        awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 10 }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

copy_synced() {
    cp "$1" "$2" && sync "$2"
}

row() {
    printf '%-10s %12s %10s %14s %10s %10s %14s\n' "$@"
}

# The runs of the four commands take turns, so that a disk that is slower for
# a while (these machines share theirs) slows all of them alike. The tool
# flushes its output before renaming it into place, which cp does not: the
# like-for-like figure is the one beside cp+fsync.
row package "native (ms)" "cp (ms)" "cp+fsync (ms)" "Wine (ms)" "native/cp" "native/cp+fsync"
for msi in "$small" "$large"; do
    size="$(stat -c %s "$msi")"
    native="" copy="" synced="" wine=""
    for ((run = 0; run < runs; run++)); do
        native+=" $(timed "$work/n-setup.exe" "$tool" wrap "$msi" -o "$work/n-setup.exe" \
            --stub "$stub")"
        copy+=" $(timed "$work/copy.msi" cp "$msi" "$work/copy.msi")"
        synced+=" $(timed "$work/copy.msi" copy_synced "$msi" "$work/copy.msi")"
        # Wine every other run: it is the slow one and only there for comparison.
        if ((run % 2 == 0)); then
            wine+=" $(timed "$work/w-setup.exe" "$wine_run" "$exe" wrap "$(winpath "$msi")" \
                -o "$(winpath "$work/w-setup.exe")" --stub "$(winpath "$stub")")"
        fi
    done
    n="$(median "$native")" c="$(median "$copy")" f="$(median "$synced")"
    row "$size" "$n" "$c" "$f" "$(median "$wine")" "$(ratio "$n" "$c")" "$(ratio "$n" "$f")"
done
echo "medians of $runs runs ($(((runs + 1) / 2)) under Wine), taking turns"
