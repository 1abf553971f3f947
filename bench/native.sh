#!/usr/bin/env bash
# Prints how long the native tool takes to wrap a package of about 10 KB
# (the sample) and one of 512 MiB, end to end as a user runs it, beside `cp`
# of the same file (with and without a flush to disk) and beside brumlet.exe
# doing the same under Wine (a wineserver kept running, as on a machine that
# used Wine before). Medians of N runs, each writing a new file; the package
# is read from the page cache.
#
# Then a package near the 2 GiB limit (1,800 MiB of random payload, made once
# and kept like the others) wrapped, inspected (info, check) and extracted: the
# median time of each beside `cp` of the same file (and `cp` with a flush),
# and in runs of their own the peak memory, sampled from /proc: private
# (RssAnon) and shared (RssShmem) of the tool and its children, and how far
# the machine's shared memory (Shmem in /proc/meminfo) rose meanwhile.
#
#   bash bench/native.sh [-n runs] [-l] [host build] [cross build]
#       (defaults: 11 runs, build-host, build; build both first;
#        -l: the large package only, 3 runs unless -n says otherwise)
set -euo pipefail

runs=11
large_only=""
while [[ "${1:-}" == -n || "${1:-}" == -l ]]; do
    if [[ "$1" == -l ]]; then
        large_only=1
        runs=3
        shift
    else
        runs="$2"
        shift 2
    fi
done
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
huge="$(bench_package 1800 "$cross")"

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
wrap_table() {
row package "native (ms)" "cp (ms)" "cp+fsync (ms)" "Wine (ms)" "native/cp" "native/cp+fsync"
cat "$large" >/dev/null
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
}
[[ -n "$large_only" ]] || wrap_table

# --- near the limit -------------------------------------------------------

# KiB of a "Key:   N kB" line of a /proc file.
kib_of() {
    local key="$1" file="$2" name value rest
    while read -r name value rest; do
        if [[ "$name" == "$key:" ]]; then
            echo "$value"
            return
        fi
    done 2>/dev/null <"$file"
    echo 0
}

# The tool and its children, for their sum.
family() {
    local pid="$1" child
    echo "$pid"
    local children=""
    read -r children <"/proc/$pid/task/$pid/children" 2>/dev/null || true
    for child in $children; do
        family "$child"
    done
}

# peak <command...>: runs it once, sampling every 10 ms; sets $peak_anon,
# $peak_shmem (the highest sums over the tool and its children) and
# $peak_machine (the highest rise of the machine's Shmem), in KiB.
exec {pause}<> <(:)
peak() {
    local before
    before="$(kib_of Shmem /proc/meminfo)"
    peak_anon=0 peak_shmem=0 peak_machine=0
    "$@" >/dev/null &
    local pid=$! anon shmem p machine
    while kill -0 "$pid" 2>/dev/null; do
        anon=0 shmem=0
        for p in $(family "$pid"); do
            anon=$((anon + $(kib_of RssAnon "/proc/$p/status")))
            shmem=$((shmem + $(kib_of RssShmem "/proc/$p/status")))
        done
        machine=$(($(kib_of Shmem /proc/meminfo) - before))
        ((anon <= peak_anon)) || peak_anon=$anon
        ((shmem <= peak_shmem)) || peak_shmem=$shmem
        ((machine <= peak_machine)) || peak_machine=$machine
        read -r -t 0.01 -u "$pause" || true
    done
    wait "$pid"
}

mib() {
    awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'
}

setup="$work/huge-setup.exe"
"$tool" wrap "$huge" -o "$setup" --stub "$stub" >/dev/null
cat "$huge" "$setup" >/dev/null
echo
echo "$(stat -c %s "$huge") bytes of package, $(stat -c %s "$setup") of setup program;" \
    "TMPDIR ${TMPDIR:-/tmp}"
printf '%-8s %10s %9s %14s %10s %16s %11s %11s %12s\n' command "time (ms)" "cp (ms)" \
    "cp+flush (ms)" "/cp+flush" "private (MiB)" "shared" "machine" "private+shared"
commands=(wrap info check extract)
declare -A took
for name in "${commands[@]}" cp synced; do
    took[$name]=""
done
for ((run = 0; run < runs; run++)); do
    took[wrap]+=" $(timed "$work/w-setup.exe" "$tool" wrap "$huge" -o "$work/w-setup.exe" \
        --stub "$stub")"
    rm -f "$work/w-setup.exe"
    took[info]+=" $(timed "$work/none" "$tool" info "$setup")"
    took[check]+=" $(timed "$work/none" "$tool" check "$setup")"
    took[extract]+=" $(timed "$work/back.msi" "$tool" extract "$setup" -o "$work/back.msi")"
    rm -f "$work/back.msi"
    took[cp]+=" $(timed "$work/copy.msi" cp "$huge" "$work/copy.msi")"
    took[synced]+=" $(timed "$work/copy.msi" copy_synced "$huge" "$work/copy.msi")"
    rm -f "$work/copy.msi"
done
c="$(median "${took[cp]}")" f="$(median "${took[synced]}")"
for name in "${commands[@]}"; do
    case "$name" in
        wrap) peak "$tool" wrap "$huge" -o "$work/w-setup.exe" --stub "$stub" ;;
        info) peak "$tool" info "$setup" ;;
        check) peak "$tool" check "$setup" ;;
        extract) peak "$tool" extract "$setup" -o "$work/back.msi" ;;
    esac
    rm -f "$work/w-setup.exe" "$work/back.msi"
    t="$(median "${took[$name]}")"
    printf '%-8s %10s %9s %14s %10s %16s %11s %11s %12s\n' "$name" "$t" "$c" "$f" \
        "$(ratio "$t" "$f")" "$(mib "$peak_anon")" "$(mib "$peak_shmem")" \
        "$(mib "$peak_machine")" "$(mib $((peak_anon + peak_shmem)))"
done
echo "medians of $runs runs, taking turns; memory: the highest of 10 ms samples of one run"
rm -f "$setup"
