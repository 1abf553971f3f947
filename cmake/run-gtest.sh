#!/usr/bin/env bash
# Runs one GoogleTest program for CTest and passes only when it ran to its end.
#
#   run-gtest.sh <wine-run.sh> <program.exe> [args...]
#
# A program that dies under Wine (a stack overflow, for one) can still reach
# the shell with status 0, so the exit status alone proves nothing: the
# program must also have printed GoogleTest's closing "[  PASSED  ]" line,
# which it writes only after the last test. Its output is passed through as it
# comes, so CTest shows it on failure.
set -o pipefail

runner="$1"
shift
"$runner" "$@" 2>&1 | awk '
    { print }
    /^\[  PASSED  \] / { passed = 1 }
    END {
        if (!passed) {
            print "run-gtest.sh: no closing \"[  PASSED  ]\" line: the program did not run to its end"
            exit 1
        }
    }'
