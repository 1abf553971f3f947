#!/usr/bin/env bash
# Runs one fuzz target for a bounded time from its seed corpus.
#
#   run-fuzz.sh <target> <seed corpus> <seconds> <work dir>
#
# New inputs go to the work folder, never into the checked-in corpus; a
# crashing input is written there too and named in the output, to be added to
# the corpus as a regression case once the fault is fixed.
set -euo pipefail
target="$1" seeds="$2" seconds="$3" work="$4"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
