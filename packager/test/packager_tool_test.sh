#!/usr/bin/env bash
# The packaging tool's three commands and its refusals, run through the Linux
# front bin/brumlet from a foreign folder with paths holding blanks and
# non-ASCII letters; a wrapped package signed, verified, installed and removed.
#
#   packager_tool_test.sh <source dir> <build dir> <tool.msi> <work dir>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" build="$2" msi="$3" work="$4"

export WINEPREFIX="$build/wineprefix" BRUMLET_EXE="$build/packager/brumlet.exe"
wine_run="$build/wine-run.sh"
code_guid='{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}'
key='HKCU\Software\BrumletTests\ToolTest'

rm -rf "$work"
dir="$work/Pakete für dich"
mkdir -p "$dir" "$work/elsewhere"
pkg="$dir/tool pkg.msi"
cp "$msi" "$pkg"
# Every command runs from a folder that holds none of its files.
cd "$work/elsewhere" || exit 1

# Sets $code, $out and $err (without carriage returns).
tool() {
    "$src/bin/brumlet" "$@" >"$work/out" 2>"$work/err" </dev/null
    code=$?
    out="$(tr -d '\r' <"$work/out")"
    err="$(tr -d '\r' <"$work/err")"
}

# refuse <status> <pattern> <folder that must stay empty> <args...>
refuse() {
    local status="$1" pattern="$2" folder="$3"
    shift 3
    tool "$@"
    expect_code "$status" "$*"
    local first
    first="$(head -n 1 <<<"$err")"
    [[ "$first" =~ ^brumlet:\ .*$pattern ]] || fail "$*: first error line '$first' lacks '$pattern'"
    if [[ "$status" == 1 && "$(wc -l <<<"$err")" != 1 ]]; then
        fail "$*: more than one error line:"$'\n'"$err"
    fi
    [[ -z "$(ls -A "$folder")" ]] || fail "$*: left behind in $folder: $(ls -A "$folder")"
}

# refuse_json <status> <pattern> <command> <args...>: as refuse, with --json
# after the command word; standard output is one JSON object that holds the
# error line's words and the status.
refuse_json() {
    local status="$1" pattern="$2" command="$3"
    shift 3
    tool "$command" --json "$@"
    expect_code "$status" "$command --json $*"
    [[ "$(head -n 1 <<<"$err")" =~ ^brumlet:\ .*$pattern ]] ||
        fail "$command --json $*: error line '$err' lacks '$pattern'"
    local got
    got="$(python3 -c 'import json, sys
d = json.load(sys.stdin)
print(d["exit"]); print(d["error"])' <<<"$out")" || { fail "$command --json $*: no JSON error: $out"; return; }
    [[ "$(head -n 1 <<<"$got")" == "$status" && "$(sed -n 2p <<<"$got")" =~ $pattern ]] ||
        fail "$command --json $*: JSON error is not status $status and '$pattern': $out"
}

# --- wrap, info, extract ------------------------------------------------------
tool wrap "$pkg"
setup="$dir/tool pkg-setup.exe"
expect_code 0 "wrap with the default output"
expect_line_in "wrote '$setup'" "$out" "wrap output (Unix path)"
[[ -z "$(ls "$dir" | grep -v -e '^tool pkg.msi$' -e '^tool pkg-setup.exe$')" ]] ||
    fail "wrap left other files: $(ls "$dir")"

tool info "$setup"
expect_code 0 "info of the setup program"
for line in "File: +'$(re_escape "$setup")' \(setup program\)" "Product code: +$(re_escape "$code_guid")" \
    "Product name: +Brumlet Tool Test" "Product version: +2\.3\.4" "Manufacturer: +Brumlet Testers" \
    "Package size: +$(stat -c %s "$pkg") bytes" "Embedded product code: +.*\(matches the package\)"; do
    expect_match_in "^$line$" "$out" "info of the setup program"
done
tool info "$pkg"
expect_code 0 "info of the package"
expect_match_in "^Product code: +$(re_escape "$code_guid")$" "$out" "info of the package"

tool extract "$setup" -o "$work/round trip.msi"
expect_code 0 "extract"
cmp -s "$pkg" "$work/round trip.msi" || fail "the extracted package differs from the original"
mkdir -p "$work/default"
cp "$setup" "$work/default/app-setup.exe"
tool extract "$work/default/app-setup.exe"
expect_code 0 "extract with the default output"
cmp -s "$pkg" "$work/default/app.msi" || fail "extract did not write app.msi beside app-setup.exe"

# The package alone on standard output; a long option with its value.
"$src/bin/brumlet" extract "$setup" -o - >"$work/piped.msi" 2>"$work/err" </dev/null
expect_code_of=$?
[[ "$expect_code_of" == 0 ]] || fail "extract -o -: exit code $expect_code_of: $(cat "$work/err")"
cmp -s "$pkg" "$work/piped.msi" || fail "extract -o - did not give the package alone"
expect_match_in "^brumlet: wrote the package of '.*' to standard output \($(stat -c %s "$pkg") bytes\)" \
    "$(tr -d '\r' <"$work/err")" "extract -o -"
# On a terminal: refused with the tool's own words, nothing written.
said="$(python3 -c 'import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
out = b""
while True:
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
sys.stdout.write(out.decode("utf-8", "replace").replace("\r", ""))
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))' "$src/bin/brumlet" extract "$setup" -o -)"
expect_code_of=$?
[[ "$expect_code_of" == 1 &&
    "$said" == "brumlet: standard output is a terminal; send the package to a file or a pipe" ]] ||
    fail "extract -o - to a terminal: status $expect_code_of: $said"
tool extract --quiet "$setup" --output="$work/long option.msi" --force
expect_code 0 "extract --output=X --quiet"
[[ -z "$out$err" ]] || fail "extract --quiet said: $out$err"
cmp -s "$pkg" "$work/long option.msi" || fail "extract --output=X wrote another package"

# The same package and stub give the same bytes, wherever they are wrapped.
mkdir -p "$work/again"
tool wrap "$pkg" -o "$work/again/tool pkg-setup.exe"
expect_code 0 "second wrap"
[[ "$(sha256sum <"$setup")" == "$(sha256sum <"$work/again/tool pkg-setup.exe")" ]] ||
    fail "two wraps of the same package differ"

tool --version
expect_match_in '^brumlet [0-9]+\.[0-9]+\.[0-9]+$' "$out" "--version"
tool --help
expect_code 0 "--help"
expect_match_in '^  brumlet wrap PACKAGE.msi' "$out" "--help"

# --- refusals: one line, status 1 (2 for the command line), nothing written ----
empty="$work/empty"
mkdir -p "$empty"
printf 'not a package\n' >"$work/text.msi"
cp "$pkg" "$work/nocode.msi"
msibuild "$work/nocode.msi" -q "DELETE FROM \`Property\` WHERE \`Property\`='ProductCode'"
cp "$pkg" "$work/short.msi"
msibuild "$work/short.msi" -q "UPDATE \`Property\` SET \`Value\`='${code_guid:0:36}}' WHERE \`Property\`='ProductCode'"
cp "$pkg" "$work/crlf.msi"
msibuild "$work/crlf.msi" -q "UPDATE \`Property\` SET \`Value\`='$code_guid"$'\r\n'"' WHERE \`Property\`='ProductCode'"
# Sparse: the size is what counts, the package opens all the same.
cp "$pkg" "$work/huge.msi"
truncate -s 2100M "$work/huge.msi"
cp "$build/wrapper/brumlet-wrapper.exe" "$work/stub.exe"

refuse 1 "'$(re_escape "$work")/missing.msi' does not exist" "$empty" wrap "$work/missing.msi" -o "$empty/s.exe"
refuse 1 "is a folder, not a file" "$empty" wrap "$dir" -o "$empty/s.exe"
refuse 1 "is not a Windows Installer package" "$empty" wrap "$work/text.msi" -o "$empty/s.exe"
refuse 1 "is not a Windows Installer package" "$empty" wrap "$setup" -o "$empty/s.exe"
refuse 1 "has no ProductCode property" "$empty" wrap "$work/nocode.msi" -o "$empty/s.exe"
refuse 1 "ProductCode that is no GUID: '\{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E00\}'" "$empty" \
    wrap "$work/short.msi" -o "$empty/s.exe"
refuse 1 "ProductCode that is no GUID: '.*\\\\r\\\\n'" "$empty" wrap "$work/crlf.msi" -o "$empty/s.exe"
refuse 1 "too large to embed: 2202009600 bytes" "$empty" wrap "$work/huge.msi" -o "$empty/s.exe"
rm -f "$work/huge.msi"
refuse 1 "is not a 64-bit Windows GUI program" "$empty" wrap "$pkg" -o "$empty/s.exe" --stub "$BRUMLET_EXE"
refuse 1 "already carries a package" "$empty" wrap "$pkg" -o "$empty/s.exe" --stub "$setup"
refuse 1 "is not a Windows executable" "$empty" wrap "$pkg" -o "$empty/s.exe" --stub "$work/text.msi"
refuse 1 "output folder '.*/no such folder' does not exist" "$empty" wrap "$pkg" -o "$work/no such folder/s.exe"
refuse 1 "is the package itself" "$empty" wrap "$pkg" -o "$pkg"
cmp -s "$pkg" "$msi" || fail "a refused wrap onto the package changed it"
refuse 1 "is not a usable \\.ico file" "$empty" wrap "$pkg" -o "$empty/s.exe" --icon "$work/text.msi"
refuse 1 "neither an installer package nor a setup program" "$empty" info "$work/text.msi"
refuse 1 "without an embedded package" "$empty" extract "$work/stub.exe" -o "$empty/p.msi"
refuse 2 "unknown command 'wrapp'" "$empty" wrapp "$pkg"
refuse 2 "wrap: no file given" "$empty" wrap
refuse 2 "unknown option '--out'" "$empty" wrap "$pkg" --out "$empty/s.exe"
refuse 2 "option -o needs a value" "$empty" extract "$setup" -o
# A wrong command line shows that command's usage, not every command's.
[[ "$err" == *"Usage: brumlet extract SETUP.exe"* && "$err" != *"brumlet wrap"* ]] ||
    fail "extract -o: not the command's usage:"$'\n'"$err"
refuse_json 2 "unknown option '--out'" wrap "$pkg" --out "$empty/s.exe"
refuse_json 2 "-o - puts the package on standard output" extract "$setup" -o -
refuse 1 "give a file: the package is read by its path" "$empty" check -
refuse 1 "give a file: the stub is read by its path" "$empty" wrap "$pkg" --stub=- -o "$empty/s.exe"
tool
expect_code 2 "no arguments"

# --- damaged and hostile files: one line, status 1, nothing written -----------
# Bytes are patched in copies of real files: le32 gives the printf escapes of
# a 32-bit value, put writes such escapes at an offset, u32 reads a value.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
put() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
offset_of() { LC_ALL=C grep -obUaP "$2" "$1" | head -n 1 | cut -d: -f1; }
bad="$work/bad"
mkdir -p "$bad"

# Setup programs. The package's data entry (RVA, size, code page 0, 0) is
# found by its size, the package by the compound file signature.
size="$(stat -c %s "$pkg")"
entry=$(($(offset_of "$setup" "$(le32 "$size")"'\x00\x00\x00\x00\x00\x00\x00\x00') - 4))
start="$(offset_of "$setup" '\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1')"
for name in past-end empty code random damaged sections; do cp "$setup" "$bad/$name.exe"; done
put "$bad/sections.exe" $(($(u32 "$setup" 60) + 6)) '\xC8\x00' # 200 sections, over the first
put "$bad/past-end.exe" $((entry + 4)) "$(le32 $((size + 65536)))"
put "$bad/empty.exe" $((entry + 4)) "$(le32 0)"
put "$bad/code.exe" "$entry" "$(le32 4096)" # the start of .text
head -c 4096 /dev/urandom | dd of="$bad/random.exe" bs=1 seek="$start" conv=notrunc status=none
put "$bad/damaged.exe" $((start + 30)) '\x20\x00' # sectors of 2^32 bytes
head -c $((start + size / 2)) "$setup" >"$bad/cut.exe"
head -c 1000 "$setup" >"$bad/head.exe"
head -c 100 "$setup" >"$bad/dos.exe"
linked="$build/wrapper/test"
while IFS='|' read -r file pattern; do
    refuse 1 "$pattern" "$empty" info "$file"
    refuse 1 "$pattern" "$empty" extract "$file" -o "$empty/p.msi"
    refuse_json 1 "$pattern" check "$file"
done <<END
$bad/past-end.exe|is a damaged executable: .*runs past the end
$bad/cut.exe|is a damaged executable: .*(outside|past the end)
$bad/head.exe|is a damaged executable
$bad/dos.exe|is a damaged executable
$bad/sections.exe|is a damaged executable: its section table of 200 sections runs to .*, past the headers
$bad/empty.exe|the package inside '.*' is not a Windows Installer package
$bad/code.exe|the package inside '.*' is not a Windows Installer package
$bad/random.exe|the package inside '.*' is not a Windows Installer package
$bad/damaged.exe|the package inside '.*' is a damaged compound file
$linked/corrupt-setup.exe|the package inside '.*' is not a Windows Installer package
$linked/bad-code-setup.exe|carries the product code 'not-a-product-code' but its package has \{
END

# Packages: a patch, a transform and a compound file of another class (one
# FAT sector, one directory sector holding the root storage and its class
# identifier {000C10xx-0000-0000-C000-000000000046}), and packages cut short.
repeat() { for _ in $(seq "$1"); do printf '%s' "$2"; done; }
compound() {
    local free nostream
    free="$(le32 $((0xFFFFFFFF)))" nostream="$(le32 $((0xFFFFFFFF)))"
    {
        printf '\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1'
        head -c 16 /dev/zero
        printf '\x3E\x00\x03\x00\xFE\xFF\x09\x00\x06\x00\0\0\0\0\0\0'
        # directory sectors, FAT sectors, first directory sector, transaction,
        # mini stream cut-off, mini FAT, DIFAT, then the DIFAT's first entry
        printf "$(le32 0)$(le32 1)$(le32 1)$(le32 0)$(le32 4096)$(le32 $((0xFFFFFFFE)))$(le32 0)"
        printf "$(le32 $((0xFFFFFFFE)))$(le32 0)$(le32 0)$(repeat 108 "$free")"
        # FAT: sector 0 is the FAT, sector 1 the directory's only sector
        printf "$(le32 $((0xFFFFFFFD)))$(le32 $((0xFFFFFFFE)))$(repeat 126 "$free")"
        printf 'R\0o\0o\0t\0 \0E\0n\0t\0r\0y\0'
        head -c 44 /dev/zero
        printf "\\x16\\x00\\x05\\x01$nostream$nostream$nostream"
        printf "\\x$2\\x10\\x0C\\x00\\x00\\x00\\x00\\x00\\xC0\\x00\\x00\\x00\\x00\\x00\\x00\\x46"
        head -c 20 /dev/zero
        printf "$(le32 $((0xFFFFFFFE)))"
        head -c 8 /dev/zero
        for _ in 1 2 3; do
            head -c 68 /dev/zero
            printf "$nostream$nostream$nostream"
            head -c 48 /dev/zero
        done
    } >"$1"
}
compound "$bad/fix.msp" 86
compound "$bad/lang.mst" 82
compound "$bad/other.msi" 99
head -c $((size / 2)) "$pkg" >"$bad/cut.msi"
head -c 600 "$pkg" >"$bad/stump.msi"
# What the installer libraries do not survive: a package's streams written
# again in one sibling chain or in a tree too large, a mini chain's tail past
# the mini FAT, a damaged table catalogue (_Columns: 140 rows, the column
# numbers at byte 280), no _Tables, a package class with no streams at all.
compound "$bad/bare.msi" 84
rewrite() { python3 "$src/packager/test/compound_rewrite.py" "$pkg" "$bad/$1" "${@:2}" || fail "rewrite $1"; }
rewrite chain.msi chain:40000
rewrite wide.msi wide:100000
rewrite mini-tail.msi 'minitail:!_Columns'
rewrite columns-cut.msi 'cut:!_Columns:1001'
rewrite columns-table.msi 'poke:!_Columns:0:0x8000'
rewrite columns-number.msi 'poke:!_Columns:280:0xFFFF'
rewrite no-tables.msi 'drop:!_Tables'
while IFS='|' read -r name pattern; do
    refuse 1 "$pattern" "$empty" wrap "$bad/$name" -o "$empty/s.exe"
    refuse 1 "$pattern" "$empty" info "$bad/$name"
    refuse_json 1 "$pattern" check "$bad/$name"
done <<'END'
fix.msp|'.*/fix\.msp' is a patch \(\.msp\), not an installer package
lang.mst|'.*/lang\.mst' is a transform \(\.mst\), not an installer package
other.msi|is a compound file but not a Windows Installer package
cut.msi|(is a damaged compound file|cannot be opened as an installer database)
stump.msi|is a damaged compound file
bare.msi|is a damaged installer database: it has no _StringPool stream
chain.msi|is a damaged compound file.*: the directory tree is more than 4096 links deep
wide.msi|is a damaged compound file.*: the directory tree has more than 8192 entries
mini-tail.msi|is a damaged compound file.*: the mini sector chain of .* beyond the mini FAT
columns-cut.msi|is a damaged installer database: the _Columns stream is 1001 bytes
columns-table.msi|is a damaged installer database: the _Columns row 1's table refers to string 32768
columns-number.msi|is a damaged installer database: the _Columns row 1 gives table '.*' column number 32767
no-tables.msi|is a damaged installer database: it has no _Tables stream
END

# Stubs: another GUI program, and copies of the real stub with one header
# field broken (offsets from the PE signature, whose offset is at 60).
pe="$(u32 "$work/stub.exe" 60)"
for name in file-align section-align optional-header headers dll; do
    cp "$work/stub.exe" "$bad/$name.exe"
done
put "$bad/file-align.exe" $((pe + 24 + 36)) "$(le32 0)"
put "$bad/section-align.exe" $((pe + 24 + 32)) "$(le32 0)"
put "$bad/optional-header.exe" $((pe + 20)) '\xF0\xFF'
put "$bad/headers.exe" $((pe + 24 + 60)) "$(le32 $((0xFFFFF000)))"
put "$bad/dll.exe" $((pe + 22)) '\x22\x20' # executable, large addresses, DLL
while IFS='|' read -r stub pattern; do
    refuse 1 "stub '.*' $pattern" "$empty" wrap "$pkg" -o "$empty/s.exe" --stub "$stub"
done <<END
$build/wrapper/test/msiexec_standin.exe|is not Brumlet's stub
$bad/file-align.exe|is a damaged executable: .*file alignment
$bad/section-align.exe|is a damaged executable: .*section alignment
$bad/optional-header.exe|is a damaged executable
$bad/headers.exe|is a damaged executable: .*headers
$bad/dll.exe|is a DLL
END

# A product icon that cannot be used costs the icon and one warning line, not
# the wrap: a damaged .ico file, a program's icon, an icon the table lacks.
mkdir -p "$bad/tables/Icon"
head -c 30 "$src/packager/test/tool_icon.ico" >"$bad/tables/Icon/damaged.ico"
cp "$work/stub.exe" "$bad/tables/Icon/program.exe"
printf 'Name\tData\ns72\tv0\nIcon\tName\ndamaged.ico\tdamaged.ico\nprogram.exe\tprogram.exe\n' \
    >"$bad/tables/Icon.idt"
while IFS='|' read -r icon words; do
    cp "$pkg" "$bad/icon.msi"
    (cd "$bad/tables" && msibuild "$bad/icon.msi" -i Icon.idt \
        -q "UPDATE \`Property\` SET \`Value\`='$icon' WHERE \`Property\`='ARPPRODUCTICON'") ||
        fail "msibuild failed for $icon"
    rm -f "$bad/icon-setup.exe"
    tool wrap "$bad/icon.msi" -o "$bad/icon-setup.exe"
    expect_code 0 "wrap with the product icon $icon"
    [[ "$err" =~ ^brumlet:\ warning:\ .*\'$icon\'.*$words.*no\ icon && "$(wc -l <<<"$err")" == 1 ]] ||
        fail "wrap with the product icon $icon: not one warning line: $err"
    [[ -f "$bad/icon-setup.exe" ]] || fail "wrap with the product icon $icon wrote nothing"
done <<'END'
damaged.ico|damaged \.ico file
program.exe|a program's icon
missing.ico|no such icon
END

# A throwaway certificate, for the signature checks and the signing below.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brumlet Test Signer" \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl req failed"
signed="$work/signed setup.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Brumlet Tool Test" \
    -in "$setup" -out "$signed" >/dev/null || fail "osslsigncode sign failed"

# --- packages that cannot install from a setup program, and outputs -----------
# Built by wixl, then changed as other tools leave packages: an external
# cabinet, an uncompressed file, an x64 package asking for installer 1.0, a
# lower-case ProductCode. The accepted one takes its icon from a program.
checks="$work/checks"
mkdir -p "$checks"
# wixl takes source files by names relative to the current folder only.
cp "$src/packager/test/tool_readme.txt" "$src/packager/test/tool_icon.ico" "$checks/"
cp "$setup" "$checks/tool.exe"
check_msi() { # <name> <InstallerVersion> <EmbedCab> <icon> [wixl options...]
    local name="$1" version="$2" embed="$3" icon="$4"
    shift 4
    (cd "$checks" && wixl -D "ProductCode={6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E100}" \
        -D "InstallerVersion=$version" -D "EmbedCab=$embed" -D "IconId=App.${icon##*.}" \
        -D "Icon=$icon" "$@" -o "$name.msi" "$src/packager/test/check_package.wxs" 2>/dev/null) ||
        fail "wixl could not build $name.msi"
}
check_msi external 200 no tool_icon.ico
check_msi loose 200 yes tool_icon.ico
msibuild "$checks/loose.msi" -q 'UPDATE `File` SET `Attributes`=8192'
check_msi old64 100 yes tool_icon.ico -a x64
check_msi lower 200 yes tool.exe
msibuild "$checks/lower.msi" -q "UPDATE \`Property\` SET \`Value\`='{6c1e0a51-7b43-4f3c-9e0b-2d5a31c7e100}' WHERE \`Property\`='ProductCode'"
while IFS='|' read -r name pattern; do
    refuse 1 "package '.*/$name\\.msi' $pattern" "$empty" wrap "$checks/$name.msi" -o "$empty/s.exe"
    refuse 1 "package '.*/$name\\.msi' $pattern" "$empty" check "$checks/$name.msi"
    refuse_json 1 "$pattern" wrap "$checks/$name.msi" -o "$empty/s.exe"
    tool info "$checks/$name.msi"
    expect_code 0 "info of $name.msi, which the checks refuse"
    expect_match_in "^Refused: +package .*$pattern" "$out" "info of $name.msi"
done <<'END'
external|installs from the cabinet 'check\.cab', which a setup program does not carry and which is not beside it .*EmbedCab="yes"
loose|installs the file 'readme\.txt' uncompressed from beside it, .*Compressed="yes"
old64|is for x64 but asks for Windows Installer 1\.0 \(100\), .*InstallerVersion="200"
END
tool wrap "$checks/lower.msi"
expect_code 0 "wrap of a lower-case ProductCode"
[[ "$err" =~ ^brumlet:\ warning:\ .*ProductCode\ in\ lower\ case.*\'\{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E100\}\' &&
    "$(wc -l <<<"$err")" == 1 ]] || fail "lower-case ProductCode: not one warning line: $err"
accepted="$checks/lower-setup.exe"
# The gate passes a warning, and says so on one line that --quiet drops.
for quiet in "" --quiet; do
    tool check $quiet "$accepted"
    expect_code 0 "check $quiet of a setup program"
    [[ "$err" =~ ^brumlet:\ warning:\ .*ProductCode\ in\ lower\ case && "$(wc -l <<<"$err")" == 1 ]] ||
        fail "check $quiet of a setup program: not one warning line: $err"
    expected="'$accepted' passes every check: its package can install, under its product code"
    [[ -z "$quiet" ]] || expected=""
    [[ "$out" == "$expected" ]] || fail "check $quiet of a setup program said: $out"
done
# The stub has no icons: icon images (type 3) in the setup program came from
# the program.
x86_64-w64-mingw32-objdump -p "$accepted" | grep -q '^0[0-9a-f]*   Entry: ID: 0x000003,' ||
    fail "the program named as product icon gave the setup program no icon"

# info --json: the text output's facts and more, for a JSON parser.
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$checks/lower.msi" \
    -out "$checks/signed.msi" >/dev/null 2>&1 || true
json_facts() { # prints key=value lines of the top level, checks as ids
    python3 -c 'import json, sys
d = json.load(sys.stdin)
for k, v in d.items():
    print("%s=%s" % (k, ",".join(c["level"] + ":" + c["id"] for c in v) if k == "checks" else v))'
}
tool info --json "$accepted"
expect_code 0 "info --json"
facts="$(json_facts <<<"$out")" || fail "info --json gave no JSON: $out"
for line in "kind=setup program" "product_code={6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E100}" \
    "architecture=x86" "template=Intel;1033" "installer_version=200" \
    "upgrade_code={6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E101}" "install_scope=per-user" "ALLUSERS=None" \
    "package_signed=False" "setup_signed=False" "product_code_matches=True" \
    "checks=warning:product-code-case" "installable=True" "package_size=$(stat -c %s "$checks/lower.msi")"; do
    expect_line_in "$line" "$facts" "info --json of a setup program"
done
while IFS='|' read -r file expected; do
    tool info --json "$file"
    facts="$(json_facts <<<"$out")" || fail "info --json $file gave no JSON: $out"
    for line in $expected; do expect_line_in "$line" "$facts" "info --json $file"; done
done <<END
$checks/old64.msi|architecture=x64 installer_version=100 checks=refusal:installer-version installable=False
$checks/external.msi|checks=refusal:external-cabinet installable=False
$checks/signed.msi|package_signed=True
$signed|setup_signed=True package_signed=False
END

# Outputs: only a setup program made by Brumlet is replaced without --force;
# a replaced file keeps its mode; extract keeps what is there.
out_dir="$work/outputs"
mkdir -p "$out_dir"
printf 'mine\n' >"$out_dir/notes-setup.exe"
refuse 1 "output '.*/notes-setup\\.exe' exists and is no setup program made by Brumlet; give --force" \
    "$empty" wrap "$pkg" -o "$out_dir/notes-setup.exe"
[[ "$(cat "$out_dir/notes-setup.exe")" == mine ]] || fail "a refused wrap changed an existing file"
cp "$setup" "$out_dir/ro-setup.exe"
chmod 0444 "$out_dir/ro-setup.exe"
refuse 1 "output '.*/ro-setup\\.exe' is read-only; give --force" "$empty" wrap "$pkg" -o "$out_dir/ro-setup.exe"
while IFS='|' read -r name args; do
    read -r -a extra <<<"$args"
    tool wrap "$pkg" -o "$out_dir/$name" "${extra[@]}"
    expect_code 0 "wrap onto $name $args"
done <<'END'
notes-setup.exe|--force
ro-setup.exe|--force
END
# Replacing a signed setup program costs its signature: a warning says so.
cp "$signed" "$out_dir/signed-setup.exe"
tool wrap "$pkg" --json -o "$out_dir/signed-setup.exe"
expect_code 0 "wrap onto a signed setup program"
expect_line_in "brumlet: warning: '$out_dir/signed-setup.exe' was signed; sign the new setup program again" \
    "$err" "wrap onto a signed setup program"
facts="$(json_facts <<<"$out")" || fail "wrap --json gave no JSON: $out"
for line in "output=$out_dir/signed-setup.exe" "bytes=$(stat -c %s "$out_dir/signed-setup.exe")"; do
    expect_line_in "$line" "$facts" "wrap --json onto a signed setup program"
done
tool wrap "$pkg" --quiet -o "$out_dir/signed-setup.exe"
[[ "$code" == 0 && -z "$out$err" ]] || fail "wrap --quiet onto an unsigned setup program: $code $out$err"
tool info "$out_dir/notes-setup.exe"
expect_code 0 "info of the setup program that replaced notes-setup.exe with --force"
(((8#$(stat -c %a "$out_dir/ro-setup.exe") & 8#222) == 0)) ||
    fail "a read-only output replaced with --force became writable: $(stat -c %a "$out_dir/ro-setup.exe")"
chmod 0644 "$out_dir/ro-setup.exe"
cp "$pkg" "$out_dir/tool pkg.msi"
cp "$setup" "$out_dir/tool pkg-setup.exe"
touch -d '2001-01-01' "$out_dir/tool pkg.msi"
tool extract "$out_dir/tool pkg-setup.exe"
expect_code 0 "extract beside the package it holds"
expect_match_in "^kept '.*/tool pkg\\.msi': it already holds this package" "$out" "extract beside its package"
[[ "$(stat -c %Y "$out_dir/tool pkg.msi")" == "$(date -d 2001-01-01 +%s)" ]] ||
    fail "extract rewrote the package it would restore"
printf 'other\n' >"$out_dir/other.msi"
refuse 1 "output '.*/other\\.msi' exists; give --force" "$empty" extract "$setup" -o "$out_dir/other.msi"
tool extract "$setup" -o "$out_dir/other.msi" --force
cmp -s "$out_dir/other.msi" "$pkg" || fail "extract --force did not replace other.msi"
# A folder nobody may write to (sysfs refuses even root).
ro="$work/ro"
mkdir -p "$ro"
chmod 0555 "$ro"
[[ -w "$ro" ]] && ro=/sys
refuse 1 "cannot write '$(re_escape "$ro")/s\\.exe': [^(]*$" "$empty" wrap "$pkg" -o "$ro/s.exe"
[[ "$err" != *qzt* && "$err" != *createTempFile* ]] || fail "a read-only folder: $err"

# Help: for the tool, for each command, and what a missing stub needs.
while IFS='|' read -r args pattern; do
    read -r -a words <<<"$args"
    tool "${words[@]}"
    expect_code 0 "$args"
    expect_match_in "$pattern" "$out" "$args"
done <<'END'
help|^  brumlet help COMMAND
help wrap|^Usage: brumlet wrap PACKAGE.msi
wrap --help|^  --force +replace an existing SETUP.exe
info -h|^  --json
extract --help|^Usage: brumlet extract SETUP.exe
END
refuse 2 "help: unknown command 'frob'" "$empty" help frob
mkdir -p "$work/alone"
cp "$BRUMLET_EXE" "$work/alone/brumlet.exe"
BRUMLET_EXE="$work/alone/brumlet.exe" tool wrap "$pkg" -o "$empty/s.exe"
expect_code 1 "brumlet.exe without its stub"
expect_match_in "^brumlet: no stub: '.*/alone/brumlet-wrapper\\.exe' does not exist; .*--stub" "$err" \
    "brumlet.exe without its stub"

# A Wine that fails speaks for itself, on standard output too: its words are
# never taken for a converted path, and a failure with no word from the tool
# is not silent. The fake Wine records whether the tool was run at all.
fake_wine="$work/fake-wine"
while IFS='|' read -r label winepath_says winepath_status runs_tool stream tool_says pattern; do
    cat >"$fake_wine" <<FAKE
#!/bin/sh
if [ "\$1" = winepath ]; then echo "$winepath_says"; exit $winepath_status; fi
touch "$work/tool-ran"
printf '%b\\n' "$tool_says" >&$stream
exit $runs_tool
FAKE
    chmod +x "$fake_wine"
    rm -f "$work/tool-ran"
    BRUMLET_WINE="$fake_wine" tool info "$pkg"
    expect_code 1 "$label"
    expect_line_in "$pattern" "$err" "$label"
    if [[ "$label" == winepath* ]]; then
        [[ ! -e "$work/tool-ran" ]] || fail "$label: the tool ran with Wine's text as a file"
    fi
done <<END
winepath's error text|ShellExecuteEx failed: Internal error.|0|0|2||brumlet: Wine could not give '$pkg' a Windows path (winepath exit status 0: ShellExecuteEx failed: Internal error.)
winepath failing|Z:\\x.msi|1|0|2||brumlet: Wine could not give '$pkg' a Windows path (winepath exit status 1: Z:\\x.msi)
Wine not running the tool|Z:\\x.msi|0|1|2|wine: could not load brumlet.exe|brumlet: Wine could not run $BRUMLET_EXE (exit status 1: wine: could not load brumlet.exe)
Wine's start.exe failing|Z:\\x.msi|0|1|1|Application could not be started.\\nShellExecuteEx failed: Internal error.|brumlet: Wine could not run $BRUMLET_EXE (exit status 1: Application could not be started. ShellExecuteEx failed: Internal error.)
END

# --- signing ------------------------------------------------------------------
osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >"$work/verify" 2>&1 ||
    fail "osslsigncode verify failed: $(cat "$work/verify")"

# A signed stub is refused, and a refusal leaves an existing output as it was.
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$work/stub.exe" \
    -out "$work/signed stub.exe" >/dev/null || fail "signing the stub failed"
mkdir -p "$work/keep"
echo "previous" >"$work/keep/s.exe"
tool wrap "$pkg" -o "$work/keep/s.exe" --stub "$work/signed stub.exe"
expect_code 1 "signed stub"
expect_match_in "^brumlet: stub .* is signed" "$err" "signed stub"
[[ "$(cat "$work/keep/s.exe")" == previous && "$(ls -A "$work/keep")" == s.exe ]] ||
    fail "a refused wrap touched the existing output: $(ls -A "$work/keep")"

# The signed program installs (with a property from its command line) and
# removes the product.
"$wine_run" "$signed" uninstall </dev/null >/dev/null 2>&1
"$wine_run" "$signed" /qn "NOTE=set on the command line" </dev/null >/dev/null 2>&1
expect_code_of=$?
[[ "$expect_code_of" == 0 ]] || fail "signed setup /qn: exit code $expect_code_of"
note="$("$wine_run" reg query "$key" /v Note 2>/dev/null | tr -d '\r')"
expect_match_in "Note +REG_SZ +set on the command line" "$note" "installed registry value"
installed="$(find "$WINEPREFIX/drive_c/users" -path '*Brumlet Tool Test*' \( -name notes.txt -o \
    -name readme.txt -o -name 'Brumlet Tool Test readme.lnk' \) | wc -l)"
[[ "$installed" == 3 ]] || fail "installed files and shortcut found: $installed of 3"
"$wine_run" "$signed" uninstall </dev/null >/dev/null 2>&1
expect_code_of=$?
[[ "$expect_code_of" == 0 ]] || fail "signed setup uninstall: exit code $expect_code_of"
"$wine_run" reg query "$key" >/dev/null 2>&1 && fail "registry key left after removal"
left="$(find "$WINEPREFIX/drive_c/users" -path '*Brumlet Tool Test*' | wc -l)"
[[ "$left" == 0 ]] || fail "$left files left after removal"

# The setup program of the package with a lower-case ProductCode and a
# program for its icon installs and removes its product.
check_key='HKCU\Software\BrumletTests\CheckTest'
for run in /qn uninstall; do
    "$wine_run" "$accepted" "$run" </dev/null >/dev/null 2>&1
    expect_code_of=$?
    [[ "$expect_code_of" == 0 ]] || fail "lower-setup.exe $run: exit code $expect_code_of"
    if [[ "$run" == /qn ]]; then
        "$wine_run" reg query "$check_key" >/dev/null 2>&1 || fail "lower-setup.exe installed nothing"
    fi
done
"$wine_run" reg query "$check_key" >/dev/null 2>&1 && fail "lower-setup.exe left its registry key"

# The command the external-cabinet refusal gives, run as printed on a copy of
# that package with its cabinet beside it (the one wixl embeds elsewhere),
# makes a package that wraps, installs and uninstalls.
fixed="$checks/cabinet beside.msi"
cp "$checks/external.msi" "$fixed"
msiinfo extract "$checks/loose.msi" check.cab >"$checks/check.cab" || fail "no cabinet in loose.msi"
tool check "$fixed"
command="$(sed -n 's/.*installs from the cabinet .check\.cab. beside it.*, or run: //p' <<<"$err")"
[[ "$command" == "msibuild "* ]] || fail "the external-cabinet refusal gives no command: $err"
eval "$command" || fail "the printed command failed: $command"
tool check --quiet "$fixed"
expect_code 0 "check after the printed command"
tool wrap --quiet "$fixed"
expect_code 0 "wrap after the printed command"
for run in /qn uninstall; do
    "$wine_run" "$checks/cabinet beside-setup.exe" "$run" </dev/null >/dev/null 2>&1
    expect_code_of=$?
    [[ "$expect_code_of" == 0 ]] || fail "the package with its cabinet embedded, $run: exit code $expect_code_of"
    if [[ "$run" == /qn ]]; then
        "$wine_run" reg query "$check_key" >/dev/null 2>&1 ||
            fail "the package with its cabinet embedded installed nothing"
    fi
done
"$wine_run" reg query "$check_key" >/dev/null 2>&1 && fail "the package with its cabinet embedded left its key"

finish
