#!/usr/bin/env bash
# The manual page and the bash completion name the commands and options that
# "brumlet help" names, and no others, so that neither drifts from the tool.
#
#   manpage_test.sh <source dir> <brumlet>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" tool="$2"
page="$(groff -man -Tascii -P-cbou "$src/packaging/brumlet.1" 2>&1)" ||
    { fail "groff cannot render the manual page: $page"; finish; }

# The option words of the text on standard input, one per line: --output=X
# counts as --output.
options_of() {
    grep -oE '(^|[][ ,|(])--?[a-zA-Z][a-zA-Z-]*' | sed -E 's/^[][ ,|(]//' | sort -u
}

# same_set <what> <the help's words> <other's name> <other's words>
same_set() {
    local only
    only="$(comm -23 <(sort -u <<<"$2") <(sort -u <<<"$4") | grep -v '^$' | tr '\n' ' ')"
    [[ -z "$only" ]] || fail "$1: in brumlet help, not in $3: $only"
    only="$(comm -13 <(sort -u <<<"$2") <(sort -u <<<"$4") | grep -v '^$' | tr '\n' ' ')"
    [[ -z "$only" ]] || fail "$1: in $3, not in brumlet help: $only"
}

overview="$("$tool" help)" || fail "brumlet help failed"
help_commands="$(sed -nE 's/^  brumlet ([a-z]+).*/\1/p' <<<"$overview")"
man_commands="$(sed -nE 's/^   brumlet ([a-z]+).*/\1/p' <<<"$page")"
same_set "commands" "$help_commands" "the manual page" "$man_commands"
same_set "options of the tool" \
    "$(grep -E '^  brumlet --' <<<"$overview" | options_of)" "the manual page" \
    "$(sed -n '/^OPTIONS/,/^[A-Z]/p' <<<"$page" | grep -E '^       -' | options_of)"

# The completion, asked as bash asks it.
complete_words() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _brumlet
        printf "%s\n" "${COMPREPLY[@]}"' _ "$src/packaging/brumlet.bash-completion" "$@"
}
same_set "commands" "$help_commands" "the completion" \
    "$(complete_words brumlet '' | grep -v '^-')"

for command in $help_commands; do
    usage="$("$tool" help "$command")" || fail "brumlet help $command failed"
    # The usage lines and the options' own lines (up to their description).
    help_options="$( (sed -n '/^Usage:/,/^$/p' <<<"$usage"
        grep -E '^ +-' <<<"$usage" | sed -E 's/^ +//; s/  .*//') | options_of)"
    section="$(awk -v c="$command" '/^   brumlet / { on = ($2 == c) } /^[A-Z]/ { on = 0 } on' \
        <<<"$page")"
    [[ -n "$section" ]] || { fail "the manual page has no section for $command"; continue; }
    same_set "options of $command" "$help_options" "the manual page" \
        "$( (head -n 1 <<<"$section"; grep -E '^       -' <<<"$section") | options_of)"
    [[ "$command" == help ]] && continue
    same_set "options of $command" "$help_options" "the completion" \
        "$(complete_words brumlet "$command" - | grep -vx -- --help | options_of)"
done
finish
