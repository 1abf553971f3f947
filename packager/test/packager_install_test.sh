#!/usr/bin/env bash
# The native tool as users get it, run with no wine on its PATH: installed
# with the cross build into one prefix, and as the Debian package unpacked
# into a scratch root; each finds its stub by itself, wraps, reads and
# extracts, and the package states the libraries the program needs. From
# each, another project finds Brumlet with find_package() and wraps with no
# compiler, MinGW or Wine on its PATH. The Debian package carries what Debian
# users expect (manual page, completion, copyright, changelog, a stripped
# program), and lintian, where installed, finds no error in it.
#
#   packager_install_test.sh <source dir> <cross build> <native build> <package.msi> <work dir>
set -uo pipefail

source "$1/test/support/test_lib.sh" || exit 1
src="$1" cross="$2" host="$3" msi="$4" work="$5"

rm -rf "$work"
mkdir -p "$work/no-wine" "$work/run"
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\ntouch "%s/wine-was-called"\nexit 1\n' "$work" >"$work/no-wine/wine"
chmod +x "$work/no-wine/wine"

# use_tool <label> <brumlet>: wrap (default stub and output), info, extract.
use_tool() {
    local label="$1" tool="$2"
    rm -rf "$work/run"/*
    cp "$msi" "$work/run/app.msi"
    (cd / && PATH="$work/no-wine" "$tool" wrap "$work/run/app.msi" >"$work/out" 2>&1) ||
        { fail "$label: wrap: $(cat "$work/out")"; return; }
    (PATH="$work/no-wine" "$tool" info "$work/run/app-setup.exe" >"$work/out" 2>&1) ||
        fail "$label: info: $(cat "$work/out")"
    expect_match_in '\(matches the package\)$' "$(cat "$work/out")" "$label: info"
    (PATH="$work/no-wine" "$tool" extract "$work/run/app-setup.exe" -o "$work/run/back.msi" \
        >"$work/out" 2>&1) || fail "$label: extract: $(cat "$work/out")"
    cmp -s "$msi" "$work/run/back.msi" || fail "$label: the extracted package differs"
}

# Only what a project that wraps needs: CMake, Ninja and wixl.
mkdir -p "$work/bare-path"
for program in cmake ninja wixl; do
    ln -s "$(command -v "$program")" "$work/bare-path/$program"
done
cp "$work/no-wine/wine" "$work/bare-path/wine"

# find_package_consumer <label> <prefix> [rebuilds]: configures and builds a
# copy of the consumer project against the installed Brumlet (two packages,
# one x64 and signed) and reads its setup programs back; with "rebuilds", edits
# what the x64 package is made of, one at a time, and sees that only what
# depends on it is built again.
find_package_consumer() {
    local label="$1" prefix="$2" copy="$work/consumer-src-$RANDOM" build started ended
    build="$copy/build"
    cp -r "$src/packager/test/consumer" "$copy"
    cp "$src/packager/test/tool_icon.ico" "$copy/app64.ico"
    started="$(date +%s%N)"
    (PATH="$work/bare-path" cmake -S "$copy" -B "$build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DCONSUMER_SAMPLES="$src/samples" -DCONSUMER_ICON="$copy/app64.ico" &&
        PATH="$work/bare-path" cmake --build "$build") \
        >"$work/out" 2>&1 || { fail "$label: find_package consumer: $(tail -n 15 "$work/out")"; return; }
    ended="$(date +%s%N)"
    echo "$label: the find_package consumer configured and built in" \
        "$(((ended - started) / 1000000)) ms"
    expect_match_in "wraps with the native brumlet at $(re_escape "$prefix")/bin/brumlet" \
        "$(cat "$work/out")" "$label: configure names the tool"
    grep -q '^\[[0-9/]*\] Building \(C\|CXX\|RC\)' "$work/out" &&
        fail "$label: the consumer compiled something: $(grep Building "$work/out")"
    local setup
    for setup in consumer-setup consumer-setup64; do
        (PATH="$work/no-wine" "$prefix/bin/brumlet" info --json "$build/$setup.exe" >"$work/out" 2>&1) ||
            fail "$label: info of the consumer's $setup.exe: $(cat "$work/out")"
        expect_match_in '"installable": true' "$(cat "$work/out")" "$label: $setup.exe"
    done
    expect_match_in '"template": "x64;1033"' "$(cat "$work/out")" "$label: the x64 package"
    cmp -s "$build/signed.exe" "$build/consumer-setup64.exe" ||
        fail "$label: the signing command did not get the setup program"
    PATH="$work/bare-path" cmake --install "$build" --prefix "$copy/installed" >/dev/null 2>&1
    cmp -s "$copy/installed/consumer-setup64.exe" "$build/consumer-setup64.exe" ||
        fail "$label: install() of BRUMLET_SETUP_FILE installed no setup program"
    [[ "${3:-}" == rebuilds ]] || return 0
    PATH="$work/bare-path" cmake --build "$build" --target consumer_msi64_noarch >"$work/out" 2>&1 &&
        fail "$label: a package with 64-bit parts was built without ARCH"
    expect_match_in 'has Win64="yes", which wixl ignores without -a' "$(tr -s ' \n' ' ' <"$work/out")" \
        "$label: 64-bit parts without ARCH"

    # What a build wrote anew, of the four outputs.
    local outputs=(hello.msi consumer-setup.exe app64.msi consumer-setup64.exe)
    stamps() { (cd "$build" && stat -c '%n %Y.%y' "${outputs[@]}"); }
    edit_payload() { echo 'payload 2' >>app64.txt; }
    edit_include() { sed -i 's/1\.0\.0/1.0.1/' inc/app64.wxi; }
    # Another colour in the icon's last pixel row: the same icon, other bytes.
    edit_icon() { printf '\377' | dd of=app64.ico bs=1 seek=$(($(stat -c %s app64.ico) - 1)) \
        conv=notrunc status=none; }
    local what edit expected before rebuilt
    while IFS='|' read -r what edit expected; do
        before="$(stamps)"
        sleep 1
        (cd "$copy" && $edit)
        PATH="$work/bare-path" cmake --build "$build" >"$work/out" 2>&1 ||
            { fail "$label: rebuild after $what: $(tail -n 15 "$work/out")"; continue; }
        rebuilt="$(diff <(echo "$before") <(stamps) | sed -n 's/^> \([^ ]*\) .*/\1/p' | xargs)"
        [[ "$rebuilt" == "$expected" ]] ||
            fail "$label: after $what, rebuilt '$rebuilt', expected '$expected'"
    done <<'END'
a payload edit|edit_payload|app64.msi consumer-setup64.exe
an included source's edit|edit_include|app64.msi consumer-setup64.exe
an icon change|edit_icon|consumer-setup64.exe
nothing|true|
END
    PATH="$work/bare-path" ninja -C "$build" -n >"$work/out" 2>&1
    grep -q 'no work to do' "$work/out" || fail "$label: an unchanged build has work: $(cat "$work/out")"
    "$prefix/bin/brumlet" info "$build/consumer-setup64.exe" | grep -q '^Product version: *1\.0\.1$' ||
        fail "$label: the setup program does not carry the edited version"
}

# Both builds into one prefix.
prefix="$work/prefix"
cmake --install "$cross" --prefix "$prefix" >/dev/null 2>"$work/err" ||
    fail "install of the cross build: $(cat "$work/err")"
cmake --install "$host" --prefix "$prefix" >/dev/null 2>"$work/err" ||
    fail "install of the native build: $(cat "$work/err")"
file -b "$prefix/bin/brumlet" | grep -q '^ELF' || fail "bin/brumlet is not the native program"
[[ -x "$prefix/bin/brumlet-wine" ]] || fail "no bin/brumlet-wine, the fallback"
use_tool "installed" "$prefix/bin/brumlet"
find_package_consumer "installed" "$prefix" rebuilds
# Without its stub the tool says where it looked.
[[ ! -e "$prefix/bin/brumlet-wrapper.exe" ]] || fail "a stub in bin/, beside the programs"
rm "$prefix/share/brumlet/brumlet-wrapper.exe"
(cd "$work/run" && "$prefix/bin/brumlet" wrap app.msi >"$work/out" 2>&1)
expect_match_in "^brumlet: no stub found at '$(re_escape "$prefix")/share/brumlet/brumlet-wrapper.exe'.*--stub" \
    "$(cat "$work/out")" "installed without the stub"

# The Debian package.
(cd "$host" && cpack -G DEB -B "$work/deb" >"$work/out" 2>&1) || fail "cpack: $(tail -n 5 "$work/out")"
deb="$(ls "$work"/deb/brumlet_*.deb 2>/dev/null | head -n 1)"
if [[ -z "$deb" ]]; then
    fail "cpack made no .deb"
    finish
fi
depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$(dpkg-deb -f "$deb" Recommends)" == *bash-completion* ]] ||
    fail "the package does not recommend bash-completion: $(dpkg-deb -f "$deb" Recommends)"
for lib in libmsi0 libglib2.0-0 libstdc++6 libc6; do
    [[ "$depends" == *"$lib"* ]] || fail "the package does not depend on $lib: $depends"
done
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x failed"
[[ -f "$work/root/usr/share/brumlet/brumlet-wrapper.exe" ]] || fail "the package lacks the stub"
if ldd "$work/root/usr/bin/brumlet" | grep -q 'not found'; then
    fail "libraries not found: $(ldd "$work/root/usr/bin/brumlet" | grep 'not found')"
fi
use_tool "Debian package" "$work/root/usr/bin/brumlet"
find_package_consumer "Debian package" "$work/root/usr"

doc="$work/root/usr/share/doc/brumlet"
for file in usr/share/man/man1/brumlet.1.gz usr/share/bash-completion/completions/brumlet \
    usr/share/doc/brumlet/changelog.Debian.gz usr/lib/cmake/Brumlet/BrumletConfigVersion.cmake; do
    [[ -s "$work/root/$file" ]] || fail "the package lacks /$file"
done
head -n 1 "$doc/copyright" 2>/dev/null | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    fail "/usr/share/doc/brumlet/copyright is not in Debian's machine-readable form"
gzip -dc "$work/root/usr/share/man/man1/brumlet.1.gz" | groff -man -Tascii -ww -z 2>"$work/out" ||
    fail "the manual page does not render: $(cat "$work/out")"
[[ -z "$(cat "$work/out")" ]] || fail "groff warns about the manual page: $(cat "$work/out")"
file -b "$work/root/usr/bin/brumlet" | grep -q ', stripped' || fail "the program is not stripped"
if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>&1
    grep -q '^E: ' "$work/lintian" && fail "lintian finds errors: $(grep '^E: ' "$work/lintian")"
    grep -E '^[WE]: ' "$work/lintian" >&2
fi

# cpack makes no package without the stub.
mkdir -p "$work/staged-without-stub/usr/bin"
cmake -DCPACK_TEMPORARY_INSTALL_DIRECTORY="$work/staged-without-stub" \
    -P "$src/packaging/CheckStub.cmake" >"$work/out" 2>&1 &&
    fail "a package without the stub passed the check"
expect_match_in 'no stub to package' "$(tr -s ' \n' ' ' <"$work/out")" "a package without the stub"

[[ ! -e "$work/wine-was-called" ]] || fail "the native tool called wine"
finish
