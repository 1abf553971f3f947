#!/usr/bin/env bash
# README.md as a user pastes it: every fenced block carries a mark in the
# HTML comment on the line before it, and this runs or checks each one.
#
#   <!-- run -->                the block runs in the scratch folder, as it stands
#   <!-- file: DIR/NAME -->     the block is written to DIR/NAME there (a later
#                               run block builds it); DIR gets the sample files
#                               and brumlet/, Brumlet's source tree
#   <!-- windows-only -->       checked only: every "brumlet.exe COMMAND" names
#                               a command and options that the tool's help names
#   <!-- source-tree -->        builds or runs from the source tree, which the
#                               test command itself does: checked only (shell
#                               syntax, -D options the builds know, scripts there)
#   <!-- fragment -->           part of this project's own CMake files
#   <!-- not run: REASON -->    needs what no test has (a certificate, a server)
#
# The scratch folder holds what the blocks expect a user to have: the tool
# installed in ~/.local (HOME is a folder of the test's own; ~/.local/bin on
# PATH), a package my-product.msi (the sample), my.wxs with its hello.txt,
# my.ico, and build/ and build-host/ as the two build trees.
#
#   readme_test.sh <source dir> <cross build> <native build> <work dir>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" cross="$2" host="$3" work="$4"

rm -rf "$work"
mkdir -p "$work/blocks" "$work/scratch" "$work/home"
scratch="$work/scratch"
export HOME="$work/home"
export PATH="$HOME/.local/bin:$PATH"
unset DISPLAY

# The blocks, in order: $work/blocks/N.<language> and N.mark.
awk -v dir="$work/blocks" '
    /^```/ && !inside {
        inside = 1; n++; lang = substr($0, 4); if (lang == "") lang = "text"
        file = dir "/" n "." lang
        printf "%s\n", mark > (dir "/" n ".mark"); close(dir "/" n ".mark")
        printf "" > file
        next
    }
    /^```/ && inside { inside = 0; close(file); next }
    inside { print >> file; next }
    /^<!-- .* -->$/ { mark = $0; sub(/^<!-- */, "", mark); sub(/ *-->$/, "", mark); next }
    /[^ ]/ { mark = "" }
' "$src/README.md"

tool_help() {
    "$HOME/.local/bin/brumlet" help "$@" 2>/dev/null
}

# What a user has before pasting anything.
cmake --install "$cross" --prefix "$HOME/.local" >/dev/null 2>"$work/err" &&
    cmake --install "$host" --prefix "$HOME/.local" >/dev/null 2>>"$work/err" ||
    { fail "installing the tool: $(cat "$work/err")"; finish; }
samples() {
    cp "$cross/samples/hello.msi" "$1/my-product.msi"
    cp "$src/samples/hello.wxs" "$1/my.wxs"
    cp "$src/samples/hello.txt" "$1/hello.txt"
    cp "$src/packager/test/tool_icon.ico" "$1/my.ico"
}
samples "$scratch"
ln -s "$cross" "$scratch/build"
ln -s "$host" "$scratch/build-host"

# Commands of the tool named in a block that its help does not name.
missing_commands() {
    local command
    for command in $(sed 's/ #.*//' "$1" | grep -oE '(^|[ ;&|(])brumlet(\.exe)? [a-z]+' |
        awk '{ print $2 }' | sort -u); do
        tool_help "$command" >/dev/null || echo "$command"
    done
}

run_block() {
    local block="$1" name="$2" missing
    missing="$(missing_commands "$block" | tr '\n' ' ')"
    if [[ -n "$missing" ]]; then
        fail "$name: the tool has no command $missing"
        return
    fi
    local started=$SECONDS
    if ! (cd "$scratch" && bash -e -o pipefail "$block") >"$work/out" 2>&1 </dev/null; then
        fail "$name failed:"$'\n'"$(sed 's/^/    /' "$block")"$'\n'"  said:"$'\n'"$(tail -n 25 "$work/out")"
    fi
    # What configure said about the tool that wraps, and the time taken.
    echo "$name: $((SECONDS - started)) s $(grep -o 'wraps with .*' "$work/out" | head -n 1)"
}

check_windows_block() {
    local block="$1" name="$2" line command option
    while IFS= read -r line; do
        command="$(sed -nE 's/^brumlet\.exe ([a-z]+).*/\1/p' <<<"$line")"
        [[ -n "$command" ]] || continue
        if ! tool_help "$command" >"$work/help"; then
            fail "$name: brumlet has no command $command"
            continue
        fi
        for option in $(grep -oE ' --?[a-z][a-z-]*' <<<"$line"); do
            grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" "$work/help" ||
                fail "$name: brumlet help $command does not name $option"
        done
    done <"$block"
}

check_source_block() {
    local block="$1" name="$2" option script
    [[ "$block" != *.sh ]] || bash -n "$block" 2>"$work/err" || fail "$name: $(cat "$work/err")"
    for option in $(grep -oE -- '-D[A-Z_]+=' "$block" | sed 's/^-D//; s/=$//' | sort -u); do
        [[ "$option" == CMAKE_* ]] && continue
        grep -q "^$option:" "$cross/CMakeCache.txt" "$host/CMakeCache.txt" ||
            fail "$name: no build knows the option $option"
    done
    for script in $(grep -oE '(scripts|bench)/[a-z_-]+\.sh' "$block" | sort -u); do
        [[ -f "$src/$script" ]] || fail "$name: $script does not exist"
    done
}

count="$(ls "$work/blocks"/*.mark | wc -l)"
for ((n = 1; n <= count; n++)); do
    block="$(ls "$work/blocks/$n".* | grep -v '\.mark$')"
    mark="$(cat "$work/blocks/$n.mark")"
    name="README block $n ($(head -n 1 "$block" | cut -c 1-60))"
    case "$mark" in
        run) run_block "$block" "$name" ;;
        file:\ *)
            target="$scratch/${mark#file: }"
            mkdir -p "$(dirname "$target")"
            cp "$block" "$target"
            samples "$(dirname "$target")"
            ln -sfn "$src" "$(dirname "$target")/brumlet"
            ;;
        windows-only) check_windows_block "$block" "$name" ;;
        source-tree) check_source_block "$block" "$name" ;;
        fragment | not\ run:\ ?*) ;;
        *) fail "$name: no mark (run, file:, windows-only, source-tree, fragment, not run:) before it" ;;
    esac
done
# Given a native tool, a project that takes in the sources builds the stub
# for its setup programs and not brumlet.exe.
built="$(find "$scratch" -name brumlet.exe -path '*/with-sources/build/*' 2>/dev/null)"
[[ -z "$built" ]] || fail "the project with Brumlet's sources built $built"
echo "$count blocks of README.md"
finish
