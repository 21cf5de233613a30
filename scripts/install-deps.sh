#!/bin/sh
# Installs the Debian packages the build and the tests need. Idempotent: when
# everything is present it only runs a few dpkg queries and exits.
set -eu

PKGS="make cmake g++ libgtest-dev g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 \
wine wine32:i386 fonts-wine xvfb xauth xdotool imagemagick icoutils zip unzip mtools dosfstools xorriso python3 python3-pefile \
clang libclang-rt-14-dev"

missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
        missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
