#!/usr/bin/env bash
# What a setup program costs beyond the least its job needs. For each package
# size it runs, under Wine, a setup program made by brumlet.exe and the
# baseline program (a plain CopyFileW of the package into a new temporary
# folder, msiexec, deletion), both against a stand-in msiexec that exits at
# once, and prints the medians of
#   - wall time, from starting the program to its exit;
#   - peak private memory (RssAnon) of the program's Wine process, sampled
#     from /proc in separate runs in which the stand-in holds for a while, so
#     the samples see the program with its package extracted;
# with the ratios setup / baseline, and the size of the bare stub.
#
#   bash bench/run.sh [-b build dir] [-n runs] [size in MiB...]
#
# Defaults: build, 5 runs, sizes 1 32 128 512. The build must exist (the
# benchmark builds its own programs in it); packages and setup programs are
# kept in <build dir>/bench for the next run.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
source test/support/test_lib.sh
source bench/packages.sh

build=build
runs=5
while getopts b:n: option; do
    case "$option" in
        b) build="$OPTARG" ;;
        n) runs="$OPTARG" ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
sizes=("$@")
((${#sizes[@]} > 0)) || sizes=(1 32 128 512)

build="$(cd "$build" && pwd)"
work="$build/bench"
mkdir -p "$work"

cmake --build "$build" --target brumlet brumlet-wrapper msiexec_standin bench_baseline >/dev/null
tool="$build/packager/brumlet.exe"
stub="$build/wrapper/brumlet-wrapper.exe"
baseline="$build/bench/baseline.exe"

# The stand-in takes the place of the system's msiexec.exe in a prefix copy.
[[ -e "$build/wineprefix/.brumlet-ready" ]] || "$build/wine-run.sh" cmd /c exit
unset DISPLAY WAYLAND_DISPLAY BRUMLET_STANDIN_REPORT BRUMLET_STANDIN_EXIT BRUMLET_DEBUG
WINEDLLOVERRIDES_EXTRA=";msiexec.exe=n"
use_prefix_copy "$build/wineprefix" "$work/prefix"
cp "$build/wrapper/test/msiexec_standin.exe" "$work/prefix/drive_c/windows/system32/msiexec.exe"

# Runs the Windows program $@ to its end; sets $ms (wall time) and, with
# $sample set, $rss (the highest RssAnon seen, KiB). Any exit code but 0
# stops the benchmark: a failed run measures nothing.
rss=0
run() {
    local start end pid status=0 line
    rss=0
    start="$(date +%s%N)"
    "${wine[@]}" "$@" </dev/null >/dev/null 2>&1 &
    pid=$!
    if [[ -n "${sample:-}" ]]; then
        while [[ -e /proc/$pid ]]; do
            line="$(grep -s '^RssAnon:' "/proc/$pid/status")" || true
            line="${line//[!0-9]/}"
            [[ -n "$line" ]] && ((line > rss)) && rss="$line"
            sleep 0.005
        done
    fi
    wait "$pid" || status=$?
    end="$(date +%s%N)"
    ms=$(((end - start) / 1000000))
    if ((status != 0)); then
        echo "$(basename "$1") exited with $status" >&2
        exit 1
    fi
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf 'stub: %s bytes; %d runs per figure; wall time in ms, RssAnon in MiB\n\n' \
    "$(stat -c %s "$stub")" "$runs"
printf '| package | setup time | baseline time | ratio | setup RssAnon | baseline RssAnon | difference |\n'
printf '| ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n'
for size in "${sizes[@]}"; do
    msi="$(bench_package "$size" "$build")"
    setup="$work/setup-$size.exe"
    if [[ ! "$setup" -nt "$msi" || ! "$setup" -nt "$stub" || ! "$setup" -nt "$tool" ]]; then
        "${wine[@]}" "$tool" wrap "$(winpath "$msi")" -o "$(winpath "$setup")" \
            --stub "$(winpath "$stub")" >/dev/null
    fi
    # Both read the package from the page cache, never from the disk.
    cat "$msi" "$setup" >/dev/null

    # One run of each first, unmeasured: the first start of a program pays
    # for loading it.
    unset sample BRUMLET_STANDIN_WAIT_MS
    run "$setup"
    run "$baseline" "$(winpath "$msi")"
    : >"$work/times-setup" >"$work/times-baseline" >"$work/rss-setup" >"$work/rss-baseline"
    for ((i = 0; i < runs; i++)); do
        # Alternating, so a slow spell of the machine hits both alike.
        unset sample BRUMLET_STANDIN_WAIT_MS
        run "$setup" && echo "$ms" >>"$work/times-setup"
        run "$baseline" "$(winpath "$msi")" && echo "$ms" >>"$work/times-baseline"
        sample=1
        export BRUMLET_STANDIN_WAIT_MS=300
        run "$setup" && echo "$rss" >>"$work/rss-setup"
        run "$baseline" "$(winpath "$msi")" && echo "$rss" >>"$work/rss-baseline"
    done
    t_setup="$(median <"$work/times-setup")"
    t_base="$(median <"$work/times-baseline")"
    r_setup="$(median <"$work/rss-setup")"
    r_base="$(median <"$work/rss-baseline")"
    awk -v size="$size" -v ts="$t_setup" -v tb="$t_base" -v rs="$r_setup" -v rb="$r_base" 'BEGIN {
        printf "| %d MiB | %d | %d | %.2f | %.1f | %.1f | %+.1f |\n",
            size, ts, tb, ts / tb, rs / 1024, rb / 1024, (rs - rb) / 1024 }'
done
