#!/bin/sh
# Installs the Debian packages the build and the tests need; with "build",
# only those that building the release needs (no Wine, GoogleTest or clang).
# Idempotent: when everything is present it only runs a few dpkg queries and
# exits.
#
# While a mirror syncs, `apt-get update` can fail for minutes (an index of an
# unexpected size). So the update is tried a few times with a pause, and if it
# still fails the install goes on from the index there is. Only a failed
# install stops the script, with one line saying what to do.
# INSTALL_DEPS_TRIES and INSTALL_DEPS_PAUSE (seconds) change the retries.
set -eu

PKGS="make cmake g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 zip mtools xorriso"
[ "${1:-}" = build ] || PKGS="$PKGS g++ libgtest-dev wine wine32:i386 fonts-wine xvfb xauth xdotool \
imagemagick icoutils unzip dosfstools python3 python3-pefile clang libclang-rt-14-dev"
TRIES=${INSTALL_DEPS_TRIES:-4}
PAUSE=${INSTALL_DEPS_PAUSE:-15}

# Runs the given update command up to $TRIES times, $PAUSE seconds apart;
# fails when every try failed.
update_index() {
    try=1
    while ! "$@"; do
        if [ "$try" -ge "$TRIES" ]; then
            return 1
        fi
        echo "install-deps: updating the package index failed (try $try of $TRIES); trying again in $PAUSE s" >&2
        sleep "$PAUSE"
        try=$((try + 1))
    done
}

missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
        missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "installing:$missing"
if echo "$missing" | grep -q ':i386' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
if ! update_index $SUDO apt-get update -qq; then
    echo "install-deps: the package index could not be updated after $TRIES tries; installing from the index there is" >&2
fi
# shellcheck disable=SC2086
if ! $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null; then
    echo "install-deps: installing$missing failed, most likely because a package mirror is being updated; wait a few minutes for the mirror, then run the same command again" >&2
    exit 1
fi
