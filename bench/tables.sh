#!/usr/bin/env bash
# How long `brumlet info` takes on packages of about 9 MiB whose table
# catalogue has one of the two shapes that once made the table check
# quadratic: one table listed 2,000 times under copies of its name (with a
# 9 MiB stream), and an 8.5 MiB table name with 32,000 _Columns rows. Each
# median of N runs is printed beside `cp` of the same file and as a ratio;
# the verdict (refused or passed) is printed too.
#
#   bash bench/tables.sh [-n runs] [tool]
#       (defaults: 5 runs, build-host/packager/posix/brumlet; any tool that
#        takes `info FILE` will do, e.g. /work/ref/brumlet for a comparison)
set -euo pipefail

runs=5
if [[ "${1:-}" == -n ]]; then
    runs="$2"
    shift 2
fi
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tool="$(realpath "${1:-build-host/packager/posix/brumlet}")"
[[ -x "$tool" ]] || { echo "no $tool: build it first" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

(cd samples && wixl -o "$work/hello.msi" hello.wxs)
python3 bench/table_shapes.py "$work/hello.msi" "$work/repeated.msi" repeated 9
python3 bench/table_shapes.py "$work/hello.msi" "$work/long.msi" long 8.5

# The median wall time of a command, in seconds.
median() {
    local times=()
    for ((i = 0; i < runs; i++)); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc)")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

printf '%-10s %10s %10s %10s %8s  %s\n' shape bytes "info (s)" "cp (s)" ratio verdict
for shape in repeated long; do
    msi="$work/$shape.msi"
    info=$(median "$tool" info "$msi")
    copy=$(median cp "$msi" "$work/copy.msi")
    verdict=$("$tool" info "$msi" 2>&1 | grep -E '^Checks:|damaged' | head -1 | cut -c1-70 || true)
    printf '%-10s %10s %10.3f %10.3f %8.1f  %s\n' "$shape" "$(stat -c %s "$msi")" "$info" "$copy" \
        "$(echo "$info / $copy" | bc -l)" "$verdict"
done
