#!/usr/bin/env bash
# The desktop program in a real X server (Xvfb), driven with xdotool: a partitioned loop device
# and an image of a partitioned disk (its partitions listed below it) on the source page, the
# scan window while it scans those partitions in turn, and the results page.
# Screenshots go to OUTDIR. Needs root (loop devices), xvfb, xdotool, imagemagick and strace
# (which slows the program's reads so that the scan window can be caught while it scans).
#
#   tests/gui/xvfb_walkthrough.sh build/release build/fixtures docs/screenshots
set -euo pipefail
build=$(realpath "$1")
fixtures=$(realpath "$2")
out=$3
mkdir -p "$out"
export DISPLAY=:93
shots=$(mktemp -d)
Xvfb "$DISPLAY" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
loop=$(losetup -r -P -f --show "$fixtures/gui_disk.img")
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    losetup -d "$loop" 2>/dev/null || true
    rm -rf "$shots"
}
trap cleanup EXIT
sleep 2

# The window at its smallest size, which the coordinates below are for.
mkdir -p "$shots/config/keltra-photo-recovery"
printf '[Window]\nWidth=800\nHeight=500\nMaximized=0\n' >"$shots/config/keltra-photo-recovery/config.ini"
# Every read of the program waits 40 ms.
(cd "$build" && XDG_DATA_HOME="$shots/data" XDG_CONFIG_HOME="$shots/config" exec strace -f -qq -o /dev/null -e trace=pread64 \
    -e inject=pread64:delay_enter=40000 ./keltra-photo-recovery) &
app=$!
xdotool search --sync --name "Keltra Photo Recovery" >/dev/null
sleep 3
# The window is 800 x 500, centred at (112, 70) on this screen.
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-1}"; }
shot() { import -window root "$shots/full.png" && convert "$shots/full.png" -crop 800x500+112+70 +repage "$out/$1.png"; }

click 512 452            # Start
click 176 496 2          # Load Image: the file dialog
xdotool type --delay 5 "$fixtures/tables_mbr.img"
xdotool key Return
sleep 1.5
click 250 372            # the image's row, below a greyed disk and a loop device's two rows
xdotool key Down Down Down Up  # to its second partition (NTFS), the third in sight
sleep 1
shot source_devices
xdotool key Up Up        # back to the image's row: its partitions are scanned in turn
click 834 160 0.3        # Scan
shot scanning
sleep 8                  # the scan and the search end; the results page shows
click 213 247            # the JPEG node
click 296 271 0.5        # check two files
click 296 295
shot results
echo "screenshots in $out"
