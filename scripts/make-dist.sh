#!/bin/sh
# Makes the release from a Windows build folder:
#   dist/tarnwick-1.1/      TARNWICK.EXE, RESTART.EXE, Help/index.html,
#                           TARNWICK.REG, README.TXT
#   dist/tarnwick-1.1.zip   the same five files at the top of the zip (no
#                           folder around them), so that unpacking into any
#                           folder, as README.TXT says, gives a working install.
# The zip is reproducible: fixed order, no directory entries, no extra
# attributes (zip -X), fixed permissions, and every file dated
# SOURCE_DATE_EPOCH, or else the last commit's time.
# A missing file stops the script with an error: there is no partial release.
# DIST_DIR puts the output elsewhere than dist/ (for trying the script out).
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
BUILD=$1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
NAME=tarnwick-1.1
DIST=${DIST_DIR:-$ROOT/dist}
STAGE=$DIST/$NAME
ZIP=$DIST/$NAME.zip

# Source of each file in the release, as "release name:source path".
FILES="TARNWICK.EXE:$BUILD/TARNWICK.EXE
RESTART.EXE:$BUILD/RESTART.EXE
Help/index.html:$ROOT/help/index.html
TARNWICK.REG:$ROOT/release/TARNWICK.REG
README.TXT:$ROOT/release/README.TXT"

missing=0
for entry in $FILES; do
    source=${entry#*:}
    if [ ! -f "$source" ]; then
        echo "make-dist: missing $source" >&2
        missing=1
    fi
done
if [ $missing -ne 0 ]; then
    echo "make-dist: no release made" >&2
    exit 1
fi

STAMP=${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || true)}
[ -n "$STAMP" ] || STAMP=1704067200

rm -rf "$STAGE" "$ZIP"
mkdir -p "$STAGE/Help"
names=""
for entry in $FILES; do
    name=${entry%%:*}
    case $name in
        # Text for Windows gets CRLF line ends, whatever a checkout did to them.
        *.TXT | *.REG) sed 's/\r*$/\r/' "${entry#*:}" >"$STAGE/$name" ;;
        *) cp "${entry#*:}" "$STAGE/$name" ;;
    esac
    chmod 644 "$STAGE/$name"
    touch -d "@$STAMP" "$STAGE/$name"
    names="$names $name"
done

# shellcheck disable=SC2086
(cd "$STAGE" && TZ=UTC zip -X -D -q "$ZIP" $names)
echo "release: $STAGE"
echo "release: $ZIP"
