#!/usr/bin/env bash
# Prints how long brumlet.exe takes to wrap a 512 MiB package under Wine,
# beside the time cp takes to copy the same file. Both read the package from
# the page cache; the best of three runs of each is shown.
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

# Seconds of the fastest of three runs of the command.
best_of_three() {
    local best="" t
    for _ in 1 2 3; do
        local start end
        start="$(date +%s.%N)"
        "$@" >/dev/null
        end="$(date +%s.%N)"
        t="$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')"
        if [[ -z "$best" ]] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then
            best="$t"
        fi
    done
    printf '%.2f' "$best"
}

size="$(stat -c %s "$msi")"
cp_time="$(best_of_three cp "$msi" "$work/copy.msi")"
wrap_time="$(best_of_three "$wine_run" "$tool" wrap "$msi" -o "$work/bench-setup.exe")"
start_time="$(best_of_three "$wine_run" "$tool" --version)"
printf 'package:            %d bytes\n' "$size"
printf 'cp:                 %s s\n' "$cp_time"
printf 'brumlet wrap:       %s s  (%s x cp)\n' "$wrap_time" \
    "$(awk -v w="$wrap_time" -v c="$cp_time" 'BEGIN { printf "%.1f", w / c }')"
printf '  of which Wine and tool start-up (brumlet --version): %s s\n' "$start_time"
