#!/usr/bin/env bash
# Shared set-up of ./run and ./test: Debian packages when missing, then configure and build.
# Quick when nothing changed.
set -euo pipefail

ZT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ZT_BUILD="${ZT_BUILD:-$ZT_ROOT/build}"

ZT_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
             libssl-dev qt6-base-dev qt6-translations-l10n libcanberra-dev libasound2-dev
             fonts-ipafont-gothic xvfb
             clang libclang-rt-14-dev scdoc
             postgresql-15 libpq-dev libcpp-httplib-dev)

# Installs those of the packages after "--" that are missing; what comes before goes to apt-get.
zt_apt_missing() {
    local opts=() missing=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do opts+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${opts[@]}" "${missing[@]}"
    fi
}

zt_install_packages() { zt_apt_missing -- "${ZT_PACKAGES[@]}"; }

# ./run and ./test share this build. The tests steer the programs through the test hooks, so
# it has them (the demo of ./run does not use them); builds for operators do not.
zt_build() {
    if ! grep -qx 'ZT_TEST_HOOKS:BOOL=ON' "$ZT_BUILD/CMakeCache.txt" 2>/dev/null; then
        cmake -S "$ZT_ROOT" -B "$ZT_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZT_TEST_HOOKS=ON "$@"
    fi
    cmake --build "$ZT_BUILD" -j"$(nproc)"
}

# The Windows build (mingw-w64, GoogleTest from source) and its tests under Wine
# (tools/wine-tests.sh); not needed for ./run and ./test.
ZT_WIN_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest libcli11-dev nlohmann-json3-dev
                 wine wine64 xvfb xdotool socat fonts-ipafont-gothic unzip)

zt_install_win_packages() { zt_apt_missing --no-install-recommends -- "${ZT_WIN_PACKAGES[@]}"; }

# The Debian package and its checks (tools/package-tests.sh): dpkg-shlibdeps, lintian, the desktop
# entry and AppStream validators, man, and what the unpacked programs run with.
ZT_PKG_PACKAGES=(dpkg-dev file binutils lintian desktop-file-utils appstream man-db scdoc xvfb xauth
                 xdotool sound-theme-freedesktop fonts-ipafont-gothic)

zt_install_package_packages() { zt_apt_missing --no-install-recommends -- "${ZT_PKG_PACKAGES[@]}"; }
