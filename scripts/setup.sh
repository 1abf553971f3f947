#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Does nothing, not
# even a package list update, when they are all present already.
set -euo pipefail

packages=(
    g++-mingw-w64-x86-64-posix
    gcc-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64
    mingw-w64-tools
    cmake
    ninja-build
    googletest
    wine
    wine64
    # Reserves the low addresses Windows programs need before Wine's heap
    # can take them: Wine then starts with address randomisation on.
    wine64-preloader
    msitools
    wixl
    xvfb
    xauth
    xdotool
    imagemagick
    x11-utils
    osslsigncode
    openssl
    clang
    libclang-rt-14-dev
    libfuzzer-14-dev
    libmsi-dev
    libssl-dev
    libglib2.0-dev
    pkg-config
    dpkg-dev
    groff-base
    lintian
    # GNU time: the tests read a program's peak memory.
    time
)

missing=()
for pkg in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$pkg")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "setup: all ${#packages[@]} packages present"
    exit 0
fi

echo "setup: installing ${missing[*]}"

sudo=()
if ((EUID != 0)); then
    sudo=(sudo)
fi

# Another apt or dpkg run (an unattended upgrade, an install started by hand)
# holds the locks; wait for it instead of failing on them.
wait_for_apt() {
    local waited=0
    while pgrep -x 'apt|apt-get|dpkg|unattended-upgr' >/dev/null; do
        if ((waited == 0)); then
            echo "setup: waiting for a running apt/dpkg to finish"
        fi
        sleep 5
        waited=$((waited + 5))
        if ((waited >= 1800)); then
            echo "setup: apt/dpkg still busy after ${waited}s" >&2
            return 1
        fi
    done
}

export DEBIAN_FRONTEND=noninteractive
lock_wait=(-o DPkg::Lock::Timeout=600)

wait_for_apt
"${sudo[@]}" apt-get "${lock_wait[@]}" update
wait_for_apt
"${sudo[@]}" apt-get "${lock_wait[@]}" install -y "${missing[@]}"
