#!/usr/bin/env bash
# The main job: builds and installs the packaging tool, wraps the sample
# package (or the .msi given as the argument) into a setup program with the
# installed native tool (no Wine), shows what the setup program holds, then installs and
# removes it under Wine, showing the installer's exit codes.
#
#   bash scripts/main-job.sh [PACKAGE.msi]
#
# Exits with 0 only when both runs exit with 0 and, for the sample, the
# product's file and registry key appear after the installation and are gone
# after the removal. For a package of your own, a removal that ends with 0
# shows that the installation took place (a product that is not installed
# gives 1605).
set -euo pipefail

user_msi=""
if (($# > 0)); then
    if [[ ! -f "$1" ]]; then
        echo "main job: no such package: $1" >&2
        exit 2
    fi
    user_msi="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
fi

cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

build_dir="${BUILD_DIR:-build}"

step() {
    printf '\n=== %s\n' "$*"
}

step "Building and installing the tool, building the sample package"
# The Windows programs (the stub, brumlet.exe) cross-compiled, the tool for
# this machine natively; both install into one tree, where the native
# bin/brumlet finds the stub in share/brumlet by itself.
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir" --target brumlet brumlet-wrapper brumlet_hello_msi exit_code_probe
host_dir="${HOST_BUILD_DIR:-build-host}"
CC=clang CXX=clang++ cmake -S . -B "$host_dir" -G Ninja -DBRUMLET_HOST_TOOL=ON
cmake --build "$host_dir" --target brumlet

build_dir="$(cd "$build_dir" && pwd)"
install_dir="$build_dir/install"
rm -rf "$install_dir"
cmake --install "$build_dir" --prefix "$install_dir" >/dev/null
cmake --install "$host_dir" --prefix "$install_dir" >/dev/null
ls -l "$install_dir/bin" "$install_dir/share/brumlet"
wine_run="$build_dir/wine-run.sh"
probe="$build_dir/wrapper/test/exit_code_probe.exe"
key='HKCU\Software\Brumlet\Hello'
# The tool and the installations share the build's Wine prefix.
export WINEPREFIX="$build_dir/wineprefix"

msi="${user_msi:-$build_dir/samples/hello.msi}"
out_dir="$build_dir/main-job"
mkdir -p "$out_dir"
setup_name="$(basename "${msi%.*}")-setup.exe"
setup="$out_dir/$setup_name"

step "Wrapping natively: brumlet wrap $(basename "$msi") -o $setup"
"$install_dir/bin/brumlet" wrap "$msi" -o "$setup"
ls -l "$msi" "$setup"

step "brumlet info $setup_name"
"$install_dir/bin/brumlet" info "$setup"

step "Starting Wine (the first start creates the prefix $build_dir/wineprefix)"
"$wine_run" --start-server
trap '"$wine_run" --stop-server >/dev/null' EXIT

# Windows form of a host path: Wine maps the host's root to Z:.
winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

# Runs the wrapped installer with the given arguments through a probe that
# reads the full 32-bit exit code (a Unix shell would show only 8 bits).
# Sets $code.
run_setup() {
    local line
    line="$("$wine_run" "$probe" "$(winpath "$setup")" "$@" </dev/null | tr -d '\r' |
        grep '^exit code ' || true)"
    code="$(sed -n 's/^exit code \(-\{0,1\}[0-9]*\) .*/\1/p' <<<"$line")"
    echo "$setup_name $*: ${line:-no exit code}"
}

# Prints the product's registry key and its folder; sets $found to how many
# of the two exist. The folder is the one the key names, or after the
# removal the one it named before.
product_dir=""
show_product() {
    found=0
    if [[ -n "$user_msi" ]]; then
        return 0
    fi
    local listing
    if listing="$("$wine_run" reg query "$key" 2>/dev/null | tr -d '\r')"; then
        found=$((found + 1))
        echo "registry key $key:"
        grep -v '^$' <<<"$listing" | sed '1d; s/^ */    /'
        product_dir="$(sed -n 's/^ *InstallDir *REG_SZ *//p' <<<"$listing")"
    else
        echo "registry key $key: not there"
    fi
    [[ -n "$product_dir" ]] || return 0
    local host_dir
    host_dir="$("$wine_run" winepath -u "$product_dir" | tr -d '\r')"
    if [[ -f "$host_dir/hello.txt" ]]; then
        found=$((found + 1))
        echo "folder $product_dir:"
        ls -l "$host_dir" | sed '1d; s/^/    /'
        echo "    hello.txt says: $(cat "$host_dir/hello.txt")"
    elif [[ -d "$host_dir" ]]; then
        echo "folder $product_dir: there, without hello.txt"
    else
        echo "folder $product_dir: not there"
    fi
}

# A product left installed by an interrupted run would make the installation
# below a repair; take it away first.
"$wine_run" "$setup" uninstall </dev/null || true

step "Installing quietly: $setup_name /qn"
run_setup /qn
install_code="$code"
show_product
installed="$found"

step "Removing: $setup_name uninstall"
run_setup uninstall
uninstall_code="$code"
show_product
left="$found"

step "Result"
echo "install exit code:   ${install_code:-none}"
echo "uninstall exit code: ${uninstall_code:-none}"
if [[ -n "$user_msi" && "$install_code" == 0 && "$uninstall_code" == 0 ]]; then
    echo "main job: $(basename "$msi") was wrapped, installed and removed again"
elif [[ -z "$user_msi" && "$install_code" == 0 && "$uninstall_code" == 0 && "$installed" == 2 &&
    "$left" == 0 ]]; then
    echo "main job: Brumlet Hello was wrapped, installed and removed again"
elif [[ -n "$user_msi" ]]; then
    # Only the exit codes speak for a package of the user's own: what it
    # installs is not known here.
    echo "main job: FAILED ($(basename "$msi"): install exit code ${install_code:-none}," \
        "uninstall exit code ${uninstall_code:-none}; 0 expected for both)" >&2
    exit 1
else
    echo "main job: FAILED (parts of Brumlet Hello found after the installation: $installed of 2" \
        "(registry key, hello.txt), left after removal: $left)" >&2
    exit 1
fi
