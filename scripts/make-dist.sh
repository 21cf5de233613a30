#!/bin/sh
# Makes the release from a Windows build folder:
#   dist/tarnwick-1.1/      TARNWICK.EXE, RESTART.EXE, Help/index.html,
#                           TARNWICK.HTM, TARNWICK.INF, TARNWICK.REG, README.TXT
#   dist/tarnwick-1.1.zip   the same files at the top of the zip (no folder
#                           around them), so that unpacking into any folder,
#                           as README.TXT says, gives a working install
#   dist/tarnwick-1.1.img   a 1.44 MB FAT12 floppy with the same files, long
#                           names kept, volume label TARNWICK
#   dist/tarnwick-1.1.iso   a CD image with the same files, Joliet names
#   dist/SHA256SUMS         the checksums of the zip, both images and the EXEs
# TARNWICK.HTM is the help page under an 8.3 name, for the INF engine of
# Windows 95, which copies 8.3 names only; it is the same bytes as
# Help/index.html.
#
# Reproducible: fixed order and permissions, and every time stamp and serial
# number taken from SOURCE_DATE_EPOCH, or else the last commit's time.
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
IMG=$DIST/$NAME.img
ISO=$DIST/$NAME.iso

# Source of each file in the release, as "release name:source path".
FILES="TARNWICK.EXE:$BUILD/TARNWICK.EXE
RESTART.EXE:$BUILD/RESTART.EXE
Help/index.html:$ROOT/help/index.html
TARNWICK.HTM:$ROOT/help/index.html
TARNWICK.INF:$ROOT/release/TARNWICK.INF
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
export SOURCE_DATE_EPOCH=$STAMP TZ=UTC
# The floppy's volume serial number: the stamp's low 32 bits.
SERIAL=$(printf '%08X' $((STAMP & 0xFFFFFFFF)))

rm -rf "$STAGE" "$ZIP" "$IMG" "$ISO" "$DIST/SHA256SUMS"
mkdir -p "$STAGE/Help"
names=""
for entry in $FILES; do
    name=${entry%%:*}
    case $name in
        # Text for Windows gets CRLF line ends, whatever a checkout did to them.
        *.TXT | *.REG | *.INF) sed 's/\r*$/\r/' "${entry#*:}" >"$STAGE/$name" ;;
        *) cp "${entry#*:}" "$STAGE/$name" ;;
    esac
    chmod 644 "$STAGE/$name"
    touch -d "@$STAMP" "$STAGE/$name"
    names="$names $name"
done
chmod 755 "$STAGE" "$STAGE/Help"
touch -d "@$STAMP" "$STAGE" "$STAGE/Help"

# shellcheck disable=SC2086
(cd "$STAGE" && zip -X -D -q "$ZIP" $names)

# mtools writes long names (VFAT) beside the 8.3 ones and takes its own time
# stamps from SOURCE_DATE_EPOCH; -m keeps the files' own.
mformat -i "$IMG" -C -f 1440 -v TARNWICK -N "$SERIAL" ::
mmd -i "$IMG" ::/Help
for name in $names; do
    mcopy -i "$IMG" -m "$STAGE/$name" "::/$name"
done

# Joliet only: without Rock Ridge a reader that shows index.html has read the
# Joliet names.
xorriso -as mkisofs -quiet --norock -J -V TARNWICK -o "$ISO" "$STAGE" 2>/dev/null

(cd "$DIST" && sha256sum "$NAME.zip" "$NAME.img" "$NAME.iso" \
    "$NAME/TARNWICK.EXE" "$NAME/RESTART.EXE" >SHA256SUMS)
for output in "$STAGE" "$ZIP" "$IMG" "$ISO" "$DIST/SHA256SUMS"; do
    echo "release: $output"
done
