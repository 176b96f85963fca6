#!/bin/sh
# Installs the Debian packages the build and the tests need, only when missing.
set -e
packages="build-essential cmake ninja-build pkg-config zlib1g-dev libsodium-dev libgtest-dev python3-pyftpdlib pure-ftpd openssl curl qt6-base-dev qt6-svg-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev xvfb x11-utils pigz"
missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
