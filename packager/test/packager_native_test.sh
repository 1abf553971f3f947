#!/usr/bin/env bash
# The native tool against brumlet.exe under Wine: for every wixl package the
# tests use (with the package's own icon, without one, with --icon), both
# write the same setup program byte for byte, and every command and refusal
# gives the same output, messages and status (brumlet.exe through the Wine
# front, which shows its paths in their Linux form). The native tool runs
# with no wine on its PATH, only a trap that records being called.
#
#   packager_native_test.sh <source dir> <build dir> <native brumlet> <stub> <work dir>
#                           <package.msi>...
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" build="$2" native="$3" stub="$4" work="$5"
shift 5
packages=("$@")

export WINEPREFIX="$build/wineprefix" BRUMLET_EXE="$build/packager/brumlet.exe"
rm -rf "$work"
mkdir -p "$work/no-wine" "$work/pkg" "$work/native" "$work/wine"
trap 'rm -rf "$work"' EXIT
cat >"$work/no-wine/wine" <<TRAP
#!/bin/sh
touch "$work/wine-was-called"
exit 1
TRAP
chmod +x "$work/no-wine/wine"
cp "$work/no-wine/wine" "$work/no-wine/wine64"

# The large package, made once and kept for later runs.
source "$src/bench/packages.sh"
packages+=("$(cd "$src" && bench_package 210 "$build")")

# Both tools run from an empty folder with the same arguments. Sets
# $native_out, $wine_out: status, standard output and standard error, without
# carriage returns.
both() {
    (cd "$work/native" && PATH="$work/no-wine" "$native" "$@" >../n.out 2>../n.err </dev/null)
    native_out="status $?"$'\n'"$(cat "$work/n.out")"$'\n'"--- stderr"$'\n'"$(cat "$work/n.err")"
    # An output the first wrote would be kept by the second, which says so.
    [[ -z "${between:-}" ]] || rm -f -- "$between"
    (cd "$work/wine" && "$src/bin/brumlet" "$@" >../w.out 2>../w.err </dev/null)
    wine_out="status $?"$'\n'"$(tr -d '\r' <"$work/w.out")"$'\n'"--- stderr"$'\n'"$(tr -d '\r' <"$work/w.err")"
}

expect_same() {
    both "$@"
    [[ "$native_out" == "$wine_out" ]] ||
        fail "$*: the tools differ"$'\n'"native:"$'\n'"$native_out"$'\n'"Wine:"$'\n'"$wine_out"
}

# wrap_both <name> <package> [options...]: each tool writes its own setup
# program; they must be identical, and so must what info and extract say.
wrap_both() {
    local name="$1" msi="$2"
    shift 2
    # The same name: it goes into the version resource.
    local n="$work/native/$name-setup.exe" w="$work/wine/$name-setup.exe"
    (PATH="$work/no-wine" "$native" wrap "$msi" -o "$n" --stub "$stub" "$@" >/dev/null) ||
        { fail "$name: native wrap failed"; return; }
    "$src/bin/brumlet" wrap "$msi" -o "$w" --stub "$stub" "$@" >/dev/null ||
        { fail "$name: wrap under Wine failed"; return; }
    cmp -s "$n" "$w" || fail "$name: the setup programs differ: $(cmp "$n" "$w" | head -n 1)"
    # The same file for both, so that the paths they print agree too.
    expect_same info "$n"
    expect_same check "$n"
    between="$work/pkg/$name-back.msi" expect_same extract "$n" -o "$work/pkg/$name-back.msi"
    rm -f "$work/pkg/$name-back.msi"
    (PATH="$work/no-wine" "$native" extract "$n" -o "$work/pkg/$name-back.msi" >/dev/null) ||
        fail "$name: native extract failed"
    cmp -s "$msi" "$work/pkg/$name-back.msi" || fail "$name: the extracted package differs"
    rm -f "$n" "$w" "$work/pkg/$name-back.msi"
}

icon="$src/packager/test/tool_icon.ico"
for msi in "${packages[@]}"; do
    name="$(basename "$msi" .msi)"
    cp "$msi" "$work/pkg/$name.msi"
    wrap_both "$name" "$work/pkg/$name.msi"
    wrap_both "$name-icon" "$work/pkg/$name.msi" --icon "$icon"
    expect_same info "$work/pkg/$name.msi"
    rm -f "$work/pkg/$name.msi"
done

# What both installer libraries read for the checks: packages a setup program
# cannot install, and one with a lower-case ProductCode and a program's icon.
checks="$work/checks"
mkdir -p "$checks"
# wixl takes source files by names relative to the current folder only.
cp "$src/packager/test/tool_readme.txt" "$src/packager/test/tool_icon.ico" "$checks/"
cp "$stub" "$checks/stub.exe"
check_msi() { # <name> <InstallerVersion> <EmbedCab> <icon> [wixl options...]
    local name="$1" version="$2" embed="$3" icon="$4"
    shift 4
    (cd "$checks" && wixl -D "ProductCode={6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E100}" \
        -D "InstallerVersion=$version" -D "EmbedCab=$embed" -D "IconId=App.${icon##*.}" \
        -D "Icon=$icon" "$@" -o "$work/pkg/$name.msi" "$src/packager/test/check_package.wxs" \
        2>/dev/null) || fail "wixl could not build $name.msi"
}
check_msi external 200 no tool_icon.ico
check_msi loose 200 yes tool_icon.ico
msibuild "$work/pkg/loose.msi" -q 'UPDATE `File` SET `Attributes`=8192'
check_msi old64 100 yes tool_icon.ico -a x64
check_msi lower 200 yes stub.exe
msibuild "$work/pkg/lower.msi" -q "UPDATE \`Property\` SET \`Value\`='{6c1e0a51-7b43-4f3c-9e0b-2d5a31c7e100}' WHERE \`Property\`='ProductCode'"
for name in external loose old64 lower; do
    expect_same info "$work/pkg/$name.msi"
    expect_same check --json "$work/pkg/$name.msi"
    expect_same wrap "$work/pkg/$name.msi" -o "$work/pkg/x.exe" --stub "$stub"
    rm -f "$work/pkg/$name.msi" "$work/pkg/x.exe"
done

# The default output names and the refusals, each against the other tool's.
small="${packages[0]}"
cp "$small" "$work/pkg/small.msi"
printf 'no package' >"$work/pkg/text.msi"
head -c 4000 "$icon" >"$work/pkg/cut.ico"
mkdir -p "$work/pkg/folder.msi"
# Packages the check refuses before either installer library sees them.
for change in chain:40000 'minitail:!_Columns' 'poke:!_Columns:0:0x8000' 'drop:!_Tables'; do
    python3 "$src/packager/test/compound_rewrite.py" "$small" "$work/pkg/bad.msi" "$change" ||
        fail "rewrite $change"
    expect_same info "$work/pkg/bad.msi"
    expect_same wrap "$work/pkg/bad.msi" -o "$work/pkg/x.exe" --stub "$stub"
done
rm -f "$work/pkg/bad.msi"
cases=(
    ""
    "--help"
    "--version"
    "frobnicate"
    "wrap"
    "wrap $work/pkg/small.msi --colour red"
    "wrap $work/pkg/small.msi -o"
    "wrap $work/pkg/missing.msi"
    "wrap $work/pkg/folder.msi"
    "wrap $work/pkg/text.msi"
    "wrap $work/pkg/small.msi -o $work/none/setup.exe --stub $stub"
    "wrap $work/pkg/small.msi -o $work/pkg/small.msi --stub $stub"
    "wrap $work/pkg/small.msi -o $work/pkg/folder.msi --stub $stub"
    "wrap $work/pkg/small.msi --stub $work/pkg/small.msi"
    "wrap $work/pkg/small.msi --stub $BRUMLET_EXE -o $work/pkg/x.exe"
    "wrap $work/pkg/small.msi --icon $work/pkg/cut.ico --stub $stub -o $work/pkg/cut.exe"
    "info $work/pkg/text.msi"
    "info $stub"
    "extract $work/pkg/small.msi"
    "extract $stub -o $work/pkg/x.msi"
    "check --quiet $work/pkg/small.msi"
    "check --json $work/pkg/text.msi"
    "check $stub"
    "check -"
    "info --json $work/pkg/missing.msi"
    "wrap --json $work/pkg/small.msi --colour red"
    "wrap --json $work/pkg/small.msi --output=$work/pkg/x.exe --stub=$stub"
    "wrap $work/pkg/small.msi --output=$work/none/setup.exe --stub=$stub --quiet"
    "extract --json $stub -o $work/pkg/x.msi"
    "extract $stub -o - --json"
    "wrap $work/pkg/small.msi -o - --stub $stub"
    "info -- $work/pkg/-missing.msi"
)
for c in "${cases[@]}"; do
    read -r -a args <<<"$c"
    expect_same "${args[@]}"
    rm -f "$work/pkg/x.exe" "$work/pkg/x.msi" "$work/pkg/cut.exe"
done
# The default output beside the package, written by each in turn.
both wrap "$work/pkg/small.msi" --stub "$stub"
[[ "$native_out" == "$wine_out" ]] || fail "wrap with the default output: the tools differ"
[[ -f "$work/pkg/small-setup.exe" ]] || fail "no default output small-setup.exe"
# The package alone on standard output, from each.
(PATH="$work/no-wine" "$native" extract "$work/pkg/small-setup.exe" -o - >"$work/n.msi" 2>/dev/null)
"$src/bin/brumlet" extract "$work/pkg/small-setup.exe" --output=- >"$work/w.msi" 2>/dev/null
cmp -s "$small" "$work/n.msi" && cmp -s "$small" "$work/w.msi" || fail "extract -o - differs"

# Signatures checked by both, in the same words: the setup program as signed,
# then with one byte changed where the digest covers it (a section, the
# headers), where it does not (the checksum), in the signed digest, in the
# signer's signature, and in a section with the signed digest made to fit
# (only the signed attributes' message digest tells then); and signatures
# that cannot be read.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brumlet Test Signer" \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl req failed"
signed="$work/pkg/signed.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$work/pkg/small-setup.exe" \
    -out "$signed" >/dev/null || fail "osslsigncode sign failed"
digest_of() { # <file> <Current|Calculated>: the Authenticode digest osslsigncode reads
    osslsigncode verify -in "$1" 2>/dev/null | sed -n "s/^$2 message digest *: *\([0-9A-F]*\).*/\1/p"
}
signed_digest="$(digest_of "$signed" Current)"
# change <from> <to> <where>: one byte flipped at a place or in a digest, or a
# digest replaced (digest=<old hex>[:<new hex>]).
change() {
    python3 - "$@" <<'END'
import struct, sys
source, target, where = sys.argv[1:4]
b = bytearray(open(source, "rb").read())
pe = struct.unpack_from("<I", b, 0x3c)[0]
if where.startswith("digest="):
    old, _, new = where[7:].partition(":")
    old = bytes.fromhex(old)
    new = bytes.fromhex(new) if new else bytes([old[0] ^ 1]) + old[1:]
    at = b.find(old)
    assert at > 0 and len(old) == len(new)
    b[at:at + len(new)] = new
else:
    # The certificate table's entry: its revision, the PKCS#7 content type's
    # last byte (signedData becomes envelopedData), and near the end the
    # signer's encrypted digest.
    table = struct.unpack_from("<I", b, pe + 24 + 112 + 32)[0]
    end = table + 8 + 4 + struct.unpack_from(">H", b, table + 10)[0]
    at, bits = {"section": (0x1000, 1), "header": (pe + 8, 1), "checksum": (pe + 24 + 64, 1),
                "revision": (table + 5, 3), "content": (table + 22, 1),
                "signature": (end - 10, 1)}[where]
    b[at] ^= bits
open(target, "wb").write(b)
END
}
# <where>|<what info says>|<the line check fails with, after "carries ">
while IFS='|' read -r where words line; do
    cp "$signed" "$work/pkg/changed.exe"
    if [[ "$where" == resigned ]]; then
        change "$signed" "$work/pkg/changed.exe" section
        change "$work/pkg/changed.exe" "$work/pkg/changed.exe" \
            "digest=$signed_digest:$(digest_of "$work/pkg/changed.exe" Calculated)"
    elif [[ -n "$where" ]]; then
        change "$signed" "$work/pkg/changed.exe" "${where//@/$signed_digest}"
    fi
    expect_same check "$work/pkg/changed.exe"
    if [[ -z "$line" ]]; then
        [[ "$native_out" == "status 0"$'\n'*$'\n'"--- stderr"$'\n' ]] ||
            fail "check of a signed setup program, $where: $native_out"
    else
        line="brumlet: setup program '$work/pkg/changed.exe' carries $line"
        [[ "$native_out" == "status 1"$'\n'$'\n'"--- stderr"$'\n'"$line" ]] ||
            fail "check of a signed setup program, $where: $native_out"
    fi
    expect_same info "$work/pkg/changed.exe"
    expect_line_in "Setup signature:        $words" "$native_out" "info of a signed setup program, $where"
    expect_same info --json "$work/pkg/changed.exe"
done <<'END'
|Authenticode, intact|
section|Authenticode, but the file changed after signing|an Authenticode signature, but the file changed after signing; sign it again
header|Authenticode, but the file changed after signing|an Authenticode signature, but the file changed after signing; sign it again
checksum|Authenticode, intact|
digest=@|Authenticode, but the file changed after signing|an Authenticode signature, but the file changed after signing; sign it again
signature|Authenticode, but the file changed after signing|an Authenticode signature, but the file changed after signing; sign it again
resigned|Authenticode, but the file changed after signing|an Authenticode signature, but the file changed after signing; sign it again
revision|Authenticode, but damaged: the certificate entry has the revision 0x100, not 0x200|a damaged Authenticode signature: the certificate entry has the revision 0x100, not 0x200
content|Authenticode, but damaged: it is no Authenticode SignedData with one signer and its certificate|a damaged Authenticode signature: it is no Authenticode SignedData with one signer and its certificate
END
rm -f "$signed" "$work/pkg/changed.exe"

# The native tool alone: outputs that are not files, a package that fails
# after it was written, a killed extract. Nothing may be left, not even in TMPDIR.
alone="$work/alone"
mkdir -p "$alone/tmp"
native_alone() { # <expected status> <args...>; sets $alone_err
    local status="$1"
    shift
    (cd "$alone" && TMPDIR="$alone/tmp" PATH="$work/no-wine" "$native" "$@" >/dev/null \
        2>"$work/a.err" </dev/null)
    local got=$?
    alone_err="$(cat "$work/a.err")"
    [[ "$got" == "$status" ]] || fail "$*: status $got, expected $status: $alone_err"
    [[ -z "$(ls -A "$alone/tmp")" ]] || fail "$*: left in TMPDIR: $(ls -A "$alone/tmp")"
}
(PATH="$work/no-wine" "$native" wrap "$small" -o "$alone/small-setup.exe" --stub "$stub" >/dev/null)
mkfifo "$alone/pipe"
specials=("$alone/pipe")
if [[ "$(id -u)" == 0 ]]; then
    mknod "$alone/null" c 1 3 && specials+=("$alone/null")
else
    echo "not root: no device node of the test's own to write onto"
fi
for special in "${specials[@]}"; do
    for command in "wrap $small --stub $stub" "extract $alone/small-setup.exe"; do
        read -r -a args <<<"$command"
        native_alone 1 "${args[@]}" -o "$special" --force
        [[ "$alone_err" == "brumlet: output '$special' is a device, pipe or socket, not a file; choose another name" ]] ||
            fail "$command onto $special: $alone_err"
    done
    [[ -p "$special" || -c "$special" ]] || fail "$special was replaced"
done
# The embedded product code made another: the package is written, read, and
# found not to be the one named; no output appears.
code="$("$native" info "$alone/small-setup.exe" | sed -n 's/^Product code: *{\(.*\)}$/\1/p')"
other="$([[ "${code:0:1}" == 0 ]] && echo 1 || echo 0)${code:1}"
CODE="$code" OTHER="$other" perl -0777 -pe 's/(.*)\{$ENV{CODE}/$1\{$ENV{OTHER}/s' \
    "$alone/small-setup.exe" >"$alone/other-setup.exe"
native_alone 1 info "$alone/other-setup.exe"
native_alone 1 extract "$alone/other-setup.exe" -o "$alone/other.msi"
[[ "$alone_err" == *"its uninstall would not find the product"* ]] || fail "extract: $alone_err"
[[ ! -e "$alone/other.msi" ]] || fail "extract of a mismatched package left its output"
# Killed while it writes: no output, or the whole one.
large="${packages[${#packages[@]} - 1]}"
(PATH="$work/no-wine" "$native" wrap "$large" -o "$alone/large-setup.exe" --stub "$stub" >/dev/null)
for delay in 0.05 0.2 0.5; do
    (cd "$alone" && exec "$native" extract large-setup.exe -o large.msi >/dev/null 2>&1) &
    sleep "$delay"
    kill -KILL $! 2>/dev/null
    wait $! 2>/dev/null
    [[ ! -e "$alone/large.msi" ]] || cmp -s "$alone/large.msi" "$large" ||
        fail "a killed extract left a partial output"
    rm -f "$alone/large.msi"
done
rm -f "$alone/large-setup.exe" "$alone/small-setup.exe" "$alone/other-setup.exe"
left="$(ls -A "$alone" | grep -v -x -e tmp -e pipe -e null)"
[[ -z "$left" ]] || fail "left behind: $left"

[[ ! -e "$work/wine-was-called" ]] || fail "the native tool called wine"
left="$(ls -A "$work/pkg" | grep -v -x -e small.msi -e small-setup.exe -e text.msi -e cut.ico \
    -e folder.msi)"
[[ -z "$left" ]] || fail "left behind: $left"
finish
