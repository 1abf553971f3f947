#!/usr/bin/env bash
# Prints how long brumlet.exe takes to wrap a 512 MiB package under Wine,
# beside the time cp takes to copy the same file and the time a copy takes
# that is flushed to disk, as the tool's output is. All read the package from
# the page cache; the median of five runs of each is shown.
#
#   bash bench/wrap.sh [build dir]     (default: build; build it first)
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
build="$(cd "${1:-build}" && pwd)"
tool="$build/packager/brumlet.exe"
wine_run="$build/wine-run.sh"
work="$build/bench-wrap"
[[ -f "$tool" ]] || { echo "no $tool: build the project first" >&2; exit 1; }

source bench/packages.sh
mkdir -p "$work"
msi="$(bench_package 512 "$build")"

"$wine_run" --start-server >/dev/null
trap '"$wine_run" --stop-server >/dev/null; rm -f "$work/copy.msi" "$work/bench-setup.exe"' EXIT
cat "$msi" >/dev/null

# Median seconds of five runs of the command, each writing a new file $1 (or
# none, when $1 is empty): the output of the run before is deleted first, as replacing a file by renaming
# makes ext4 write the old one out, which neither side should pay for here.
median_of_five() {
    local out="$1" t
    shift
    for _ in 1 2 3 4 5; do
        [[ -z "$out" ]] || rm -f "$out"
        sync
        local start end
        start="$(date +%s%N)"
        "$@" >/dev/null
        end="$(date +%s%N)"
        echo $(((end - start) / 1000000))
    done | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f", v[3] / 1000 }'
}

size="$(stat -c %s "$msi")"
cp_time="$(median_of_five "$work/copy.msi" cp "$msi" "$work/copy.msi")"
# The tool puts its output on disk before renaming it into place; a copy that
# does the same is the fair measure of that part.
synced_time="$(median_of_five "$work/copy.msi" dd if="$msi" of="$work/copy.msi" bs=1M conv=fsync status=none)"
wrap_time="$(median_of_five "$work/bench-setup.exe" "$wine_run" "$tool" wrap "$msi" -o "$work/bench-setup.exe")"
start_time="$(median_of_five "" "$wine_run" "$tool" --version)"
printf 'package:            %d bytes\n' "$size"
printf 'cp:                 %s s\n' "$cp_time"
printf 'copy and fsync:     %s s\n' "$synced_time"
printf 'brumlet wrap:       %s s  (%s x cp, %s x copy and fsync)\n' "$wrap_time" \
    "$(awk -v w="$wrap_time" -v c="$cp_time" 'BEGIN { printf "%.1f", w / c }')" \
    "$(awk -v w="$wrap_time" -v c="$synced_time" 'BEGIN { printf "%.1f", w / c }')"
printf '  of which Wine and tool start-up (brumlet --version): %s s\n' "$start_time"
