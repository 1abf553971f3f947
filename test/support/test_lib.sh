# Shared by the test and benchmark scripts; sourced, not run.
#
# Checks count failures instead of stopping, so one run reports them all;
# finish() turns the count into the exit status.

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

finish() {
    if ((failures > 0)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# The Windows form of an absolute host path: Wine maps the host's root to Z:.
winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

# Runs a program through exit_code_probe.exe (found in the current folder) and
# the Wine command in the array $wine
# with a private temporary directory, $temp_dir, that must be empty before and
# after (unless $allow_left is set): Wine takes no TEMP or TMP from the Unix
# environment, so the probe sets them, to $win_temp_as if set (another Windows
# name of $temp_dir), else the folder's name on Z:. Sets $code (the full signed exit code),
# $out (the standard output lines other than the probe's own) and $err
# (standard error and the lines a logging run writes to its console).
#
#   run_wrapper <program.exe> [args...]
run_wrapper() {
    local win_temp="${win_temp_as:-}"
    [[ -n "$win_temp" ]] || win_temp="$(winpath "$temp_dir")"
    rm -rf "$temp_dir"
    mkdir -p "$temp_dir"
    local out_file="$temp_dir.out" err_file="$temp_dir.err"
    "${wine[@]}" exit_code_probe.exe --env "TMP=$win_temp" --env "TEMP=$win_temp" "$@" \
        >"$out_file" 2>"$err_file" </dev/null
    out="$(tr -d '\r' <"$out_file")"
    err="$(tr -d '\r' <"$err_file")"
    code="$(sed -n 's/^exit code \(-\{0,1\}[0-9]*\) (0x[0-9A-F]*)$/\1/p' <<<"$out")"
    out="$(grep -v '^exit code ' <<<"$out")"
    rm -f "$out_file" "$err_file"
    if [[ -z "$code" ]]; then
        code="none"
        fail "$*: no exit code reported; stderr:"$'\n'"$err"
    fi
    local left
    left="$(ls -A "$temp_dir")"
    [[ -z "$left" || -n "${allow_left:-}" ]] || fail "$*: left in the temporary directory: $left"
}

expect_code() {
    [[ "$code" == "$1" ]] || fail "$2: exit code $code, expected $1; stderr:"$'\n'"$err"
}

# No report of an error: a run with an error writes its plain message to
# standard error (and shows it in a message box, which this rules out too).
expect_quiet() {
    [[ -z "$err" ]] || fail "$1: standard error is not empty:"$'\n'"$err"
}

# $1 is a fixed string; it must be a whole line of $2.
expect_line_in() {
    grep -qxF -- "$1" <<<"$2" || fail "$3: no line '$1' in:"$'\n'"$2"
}

# $1 quoted for a pattern of grep -E.
re_escape() {
    sed 's/[][\\.*^$(){}+?|]/\\&/g' <<<"$1"
}

expect_match_in() {
    grep -qE -- "$1" <<<"$2" || fail "$3: nothing matching '$1' in:"$'\n'"$2"
}

# A Wine prefix of the test's own, copied from the build's shared prefix once
# (much faster than creating one) and served by its own wineserver, which is
# stopped when the script ends. Exports WINEPREFIX and the settings of the
# build's runner, and sets $wine to run programs with.
#
#   use_prefix_copy <shared prefix> <copy>
use_prefix_copy() {
    local shared="$1" copy="$2"
    if [[ ! -e "$copy/.brumlet-copy-ready" ]]; then
        if [[ ! -e "$shared/.brumlet-ready" ]]; then
            echo "no Wine prefix at $shared; the wine fixture creates it" >&2
            exit 1
        fi
        rm -rf "$copy"
        cp -a "$shared" "$copy"
        touch "$copy/.brumlet-copy-ready"
    fi
    export WINEPREFIX="$copy"
    export WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES_EXTRA:-}"
    # With address randomisation where Wine has its preloader, as the
    # build's runner: see wine-run.sh.
    wine=(wine)
    if [[ ! -x /usr/lib/wine/wine64-preloader ]] && setarch "$(uname -m)" -R true >/dev/null 2>&1; then
        wine=(setarch "$(uname -m)" -R wine)
    fi
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    # Detached, so that it holds none of CTest's pipes.
    setsid wineserver -p </dev/null >/dev/null 2>&1
    trap stop_prefix_server EXIT
}

stop_prefix_server() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}
