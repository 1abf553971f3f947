#!/usr/bin/env bash
# One package, one meaning: packages and setup programs rewritten from a real
# wixl package into every shape two conforming readers could read otherwise,
# each read by the native tool and by brumlet.exe under Wine. Both must give
# the same output and status for info --json and check (and extract, for a
# setup program), and the verdict the table expects. A sample of the accepted
# ones is wrapped by both (the same bytes), installed silently with Wine's
# msiexec and removed by the setup program's own uninstall.
#
#   packager_differential_test.sh <source dir> <build dir> <native brumlet> <stub> <work dir>
#
# CASES=<extended regex> runs only the cases whose names match it, e.g.
#   CASES='^dup-' ctest --test-dir build -R packager_differential_test --output-on-failure
# A failure shows both tools' whole output; the table printed at the end gives
# each case's verdict from both.
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" build="$2" native="$3" stub="$4" work="$5"

export WINEPREFIX="$build/wineprefix" BRUMLET_EXE="$build/packager/brumlet.exe"
wine_run="$build/wine-run.sh"
code='{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E300}'
other='{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E399}'
key='HKCU\Software\BrumletTests\CheckTest'
rm -rf "$work"
mkdir -p "$work/pkg" "$work/out"
trap 'rm -rf "$work"' EXIT

# The cases: name | changes | expected verdict of check. The changes are those
# of compound_rewrite.py to the package (- leaves wixl's bytes as they are),
# or "setup" and those of setup_rewrite.py to its setup program. The verdict
# is ok, install (ok, and installed and removed under Wine), or an extended
# regular expression, matched without case, for both tools' refusal.
# Blanks inside a value are written \x20.
cases="
wixl|-|install
rewritten|wide:20|install
spare-stream|dup:check.cab:spare.cab|ok
extra-storage|storage:Extra|ok
cp-1252|codepage:1252 setprop:ProductName:Brumlet\x20Check\x20T\xe9st|install
nul-tail-property|dup:!Property:!Property\x00X setprop:ProductCode:$other|NUL|ambiguous
nul-tail-stringdata|dup:!_StringData:!_StringData\x00X setstr:Brumlet\x20Testers:Brumlet\x20Tasters|NUL|ambiguous
nul-tail-columns|dup:!_Columns:!_Columns\x00X|NUL|ambiguous
nul-tail-summary|dup:\x05SummaryInformation:raw=\x05SummaryInformation\x00X sumset:7:x64;1033|NUL|ambiguous
name-size-short|namesize:!Property:8|name size|NUL
name-size-long|namesize:!Property:40|name size|NUL
case-summary|dup:\x05SummaryInformation:raw=\x05SUMMARYINFORMATION sumset:7:x64;1033|same name|upper case|ambiguous|twice
byte-name-summary|bytes:\x05SummaryInformation:\x05SummaryInformation sumset:7:x64;1033|8-bit|character|name|ambiguous
storage-as-table|storage:!Property|storage|same name|twice|ambiguous
unsorted-tree|unsorted|order|sorted
dup-product-code|addprop:ProductCode:$other|ProductCode.*(twice|ambiguous|duplicate)
dup-product-code-same|addprop:ProductCode:$code|ProductCode.*(twice|ambiguous|duplicate)
dup-product-name|addprop:ProductName:Other|ProductName.*(twice|ambiguous|duplicate)
dup-product-version|addprop:ProductVersion:9.9.9|ProductVersion.*(twice|ambiguous|duplicate)
dup-manufacturer|addprop:Manufacturer:Other|Manufacturer.*(twice|ambiguous|duplicate)
dup-upgrade-code|addprop:UpgradeCode:$other|UpgradeCode.*(twice|ambiguous|duplicate)
dup-allusers|addprop:ALLUSERS:1 addprop:ALLUSERS:2|ALLUSERS.*(twice|ambiguous|duplicate)
dup-per-user|addprop:MSIINSTALLPERUSER:1 addprop:MSIINSTALLPERUSER:0|MSIINSTALLPERUSER.*(twice|ambiguous|duplicate)
dup-product-icon|addprop:ARPPRODUCTICON:Other.ico|ARPPRODUCTICON.*(twice|ambiguous|duplicate)
dup-key-string|dupstr:Property:ProductCode|twice|ambiguous|duplicate
zero-count-name|refs:Brumlet\x20Check\x20Test:0|count|ambiguous|reference
nul-in-name|setprop:ProductName:Brumlet\x00Check|NUL
nul-in-code|setprop:ProductCode:$code\x00X|NUL|GUID
cp-856|codepage:856|code page
cp-708|codepage:708|code page
cp-10001|codepage:10001|code page
cp-28591|codepage:28591|code page
cp-0-8bit|setprop:ProductName:Brumlet\x20Check\x20T\xe9st|ok
cp-1252-undefined|codepage:1252 setprop:ProductName:Brumlet\x20Check\x81|code page|undefined|defined
word-count-i2|sumtype:15:2|summary
word-count-lpstr|sumtype:15:30|summary
page-count-ui4|sumtype:14:19|summary
template-lpwstr|sumtype:7:31|summary
template-twice|sumdup:7:x64;1033|summary
word-count-twice|sumdup:15|summary
cab-null|set:Media:Cabinet:|cabinet
cab-case|set:Media:Cabinet:#CHECK.CAB|cabinet
cab-blank|set:Media:Cabinet:#check.cab\x20|cabinet
cab-stream-case|rename:check.cab:CHECK.CAB|cabinet
cab-stream-8bit|bytes:check.cab:check.cab drop:check.cab|cabinet|outside ASCII
cab-missing|drop:check.cab|cabinet
file-past-media|set:File:Sequence:5|Media|sequence
no-media|drop:!Media|Media
setup-plain|setup|ok
setup-msi-languages|setup lang:MSI|language
setup-code-languages|setup lang:PRODUCT_CODE|language
setup-names-unsorted|setup unsorted|order|sorted|after|miss
"

# The package every case starts from, built by wixl: per-user, one file in an
# embedded cabinet, a product icon and a registry value.
cp "$src/packager/test/tool_readme.txt" "$src/packager/test/tool_icon.ico" "$work/"
(cd "$work" && wixl -D "ProductCode=$code" -D InstallerVersion=200 -D EmbedCab=yes \
    -D IconId=App.ico -D Icon=tool_icon.ico -o "$work/base.msi" \
    "$src/packager/test/check_package.wxs" 2>/dev/null) || { fail "wixl could not build the package"; finish; }
"$native" wrap "$work/base.msi" -o "$work/base-setup.exe" --stub "$stub" >/dev/null ||
    { fail "the package does not wrap"; finish; }

# Makes the cases' files in $work/pkg; lists the commands in $work/commands:
# case | file | command words (file names relative to $work/pkg).
: >"$work/commands"
selected=()
while IFS='|' read -r name changes expected; do
    [[ -n "$name" && "$name" =~ ${CASES:-.} ]] || continue
    read -r -a words <<<"$changes"
    if [[ "${words[0]}" == setup ]]; then
        file="$name.exe"
        python3 "$src/packager/test/setup_rewrite.py" "$work/base-setup.exe" "$work/pkg/$file" \
            "${words[@]:1}" || { fail "$name: setup_rewrite.py ${words[*]:1} failed"; continue; }
        printf '%s|%s|%s\n' "$name" "$file" "extract $file -o $name-back.msi" >>"$work/commands"
    elif [[ "$changes" == - ]]; then
        file="$name.msi"
        cp "$work/base.msi" "$work/pkg/$file"
    else
        file="$name.msi"
        python3 "$src/packager/test/compound_rewrite.py" "$work/base.msi" "$work/pkg/$file" \
            "${words[@]}" || { fail "$name: compound_rewrite.py $changes failed"; continue; }
    fi
    printf '%s|%s|%s\n' "$name" "$file" "info --json $file" "$name" "$file" "check $file" >>"$work/commands"
    selected+=("$name|$file|$expected")
done <<<"$cases"

# The native tool runs each command in turn; brumlet.exe runs them all from
# one batch file, in one Wine start (each start costs about a second). Both
# from the cases' folder, so that the names they print are the same.
batch="$work/out/all.bat"
printf '@echo off\r\ncd /d "%s"\r\n' "$(winpath "$work/pkg")" >"$batch"
n=0
while IFS='|' read -r name file command; do
    n=$((n + 1))
    read -r -a args <<<"$command"
    (cd "$work/pkg" && "$native" "${args[@]}" >"../out/n$n.out" 2>"../out/n$n.err" </dev/null)
    echo "$?" >"$work/out/n$n.status"
    out="$(winpath "$work/out/w$n")"
    # The redirection first: Wine's cmd writes nothing from (echo ...)>file.
    printf '"%s" %s >"%s.out" 2>"%s.err" <NUL\r\n>"%s.status" echo %%ERRORLEVEL%%\r\n' \
        "$(winpath "$BRUMLET_EXE")" "$command" "$out" "$out" "$out" >>"$batch"
done <"$work/commands"
# What extract wrote is the package of the setup program; the other tool's
# extract must find no output there.
for back in "$work/pkg"/*-back.msi; do
    [[ -e "$back" ]] || continue
    cmp -s "$back" "$work/base.msi" || fail "native extract of $(basename "$back"): another package"
    rm -f "$back"
done
# In the locale bin/brumlet gives it: the code page Wine takes for the
# machine's own comes from it.
case "$(locale charmap 2>/dev/null)" in
UTF-8 | utf8) "$wine_run" cmd /c "$(winpath "$batch")" </dev/null >/dev/null 2>&1 ;;
*) LC_ALL=C.UTF-8 "$wine_run" cmd /c "$(winpath "$batch")" </dev/null >/dev/null 2>&1 ;;
esac
for back in "$work/pkg"/*-back.msi; do
    [[ ! -e "$back" ]] || cmp -s "$back" "$work/base.msi" ||
        fail "extract under Wine of $(basename "$back"): another package"
done

# status, standard output and standard error of command $2 by tool $1 (n, w);
# the paths brumlet.exe prints of the cases' folder in their Unix form.
windows_pkg="$(winpath "$work/pkg")\\"
result() {
    local at="$work/out/$1$2" text
    text="$(printf 'status %s\n%s\n--- stderr\n%s' "$(tr -d '\r \n' <"$at.status" 2>/dev/null || echo none)" \
        "$(tr -d '\r' <"$at.out" 2>/dev/null)" "$(tr -d '\r' <"$at.err" 2>/dev/null)")"
    text="${text//"$windows_pkg"/"$work/pkg/"}"
    printf '%s' "${text//"${windows_pkg//\\/\\\\}"/"$work/pkg/"}"
}
# The status and the first line of standard error, or else of the output.
said() {
    local line
    line="$(sed -n '/^--- stderr$/{n;p;q}' <<<"$1")"
    [[ -n "$line" ]] || line="$(sed -n 2p <<<"$1")"
    printf '%s: %s' "${1%%$'\n'*}" "${line:0:140}"
}

declare -A check_native check_wine info_at
n=0
while IFS='|' read -r name file command; do
    n=$((n + 1))
    native_out="$(result n "$n")" wine_out="$(result w "$n")"
    [[ "$native_out" == "$wine_out" ]] ||
        fail "$name: $command: the tools differ"$'\n'"native:"$'\n'"$native_out"$'\n'"brumlet.exe:"$'\n'"$wine_out"
    case "$command" in
    check*) check_native[$name]="$native_out" check_wine[$name]="$wine_out" ;;
    info*) info_at[$name]="$work/out/n$n.out" ;;
    esac
done <"$work/commands"

# The verdicts, and the table of what each tool said.
verdict() { # <check result> <file> <expected>: empty when it is the one expected
    local status="${1%%$'\n'*}" said="${1#*$'\n'}"
    # The case's name, in the file's, says nothing.
    said="${said//"$2"/FILE}"
    case "$3" in
    ok | install) [[ "$status" == "status 0" ]] || echo "refused" ;;
    *)
        if [[ "$status" == "status 0" ]]; then
            echo "accepted"
        elif ! grep -qiE -- "$3" <<<"$said"; then
            echo "refused without /$3/"
        fi
        ;;
    esac
}
printf '%-22s %-6s %s\n' case tools "check's verdict (native / brumlet.exe)"
for entry in "${selected[@]}"; do
    IFS='|' read -r name file _ <<<"$entry"
    expected="${entry#*|*|}"
    cn="${check_native[$name]:-}" cw="${check_wine[$name]:-}"
    same=same
    [[ "$cn" == "$cw" ]] || same=DIFFER
    printf '%-22s %-6s %s / %s\n' "$name" "$same" "$(said "$cn")" "$(said "$cw")"
    for tool in native brumlet.exe; do
        [[ "$tool" == native ]] && got="$cn" || got="$cw"
        wrong="$(verdict "$got" "$file" "$expected")"
        [[ -z "$wrong" ]] || fail "$name: $tool check $wrong, expected '$expected':"$'\n'"$got"
    done
done

# The accepted packages: both tools write the same setup program; a sample
# installs the product info names, and its uninstall removes it all.
packed() { # the registry's form of a GUID
    local g="${1//[\{\}-]/}"
    printf '%s%s%s%s' "$(rev <<<"${g:0:8}")" "$(rev <<<"${g:8:4}")" "$(rev <<<"${g:12:4}")" \
        "$(sed 's/\(.\)\(.\)/\2\1/g' <<<"${g:16}")"
}
# install_and_remove <case> <setup program>: installs the product info named
# and nothing is left of it after the setup program's own uninstall.
install_and_remove() {
    local name="$1" setup="$2" product registration status
    if [[ -z "${folder:-}" ]]; then
        local local_app_data
        local_app_data="$("$wine_run" cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')"
        folder="$("$wine_run" winepath -u "$local_app_data" 2>/dev/null | tr -d '\r')/Brumlet Check Test"
        # Whatever an interrupted run left installed.
        "$wine_run" "$work/base-setup.exe" uninstall </dev/null >/dev/null 2>&1
    fi
    product="$(sed -n 's/^  "product_code": "\(.*\)",$/\1/p' "${info_at[$name]}")"
    registration="HKCU\\Software\\Microsoft\\Installer\\Products\\$(packed "$product")"
    "$wine_run" "$setup" /qn </dev/null >/dev/null 2>&1
    status=$?
    [[ "$status" == 0 ]] || fail "$name: setup /qn: exit status $status"
    "$wine_run" reg query "$registration" </dev/null >/dev/null 2>&1 ||
        fail "$name: the product info names, $product, is not registered"
    "$wine_run" reg query "$key" </dev/null >/dev/null 2>&1 || fail "$name: no registry value installed"
    cmp -s "$folder/readme.txt" "$src/packager/test/tool_readme.txt" || fail "$name: readme.txt not installed"
    "$wine_run" "$setup" uninstall </dev/null >/dev/null 2>&1
    status=$?
    [[ "$status" == 0 ]] || fail "$name: setup uninstall: exit status $status"
    "$wine_run" reg query "$registration" </dev/null >/dev/null 2>&1 && fail "$name: still registered"
    "$wine_run" reg query "$key" </dev/null >/dev/null 2>&1 && fail "$name: registry value left"
    [[ ! -e "$folder" ]] || fail "$name: $folder left"
    echo "$name: installed and removed"
}
for entry in "${selected[@]}"; do
    IFS='|' read -r name file _ <<<"$entry"
    expected="${entry#*|*|}"
    [[ "$expected" == ok || "$expected" == install ]] && [[ "$file" == *.msi ]] || continue
    [[ -z "$(verdict "${check_native[$name]:-}" "$file" ok)" ]] || continue
    setup="$work/pkg/$name-setup.exe"
    "$native" wrap "$work/pkg/$file" -o "$setup" --stub "$stub" >/dev/null 2>&1 ||
        { fail "$name: native wrap failed"; continue; }
    "$src/bin/brumlet" wrap "$work/pkg/$file" -o "$work/out/$name-setup.exe" --stub "$stub" \
        >/dev/null 2>&1 || { fail "$name: wrap under Wine failed"; continue; }
    cmp -s "$setup" "$work/out/$name-setup.exe" ||
        fail "$name: the setup programs differ: $(cmp "$setup" "$work/out/$name-setup.exe" | head -n 1)"
    [[ "$expected" != install ]] || install_and_remove "$name" "$setup"
done
finish
