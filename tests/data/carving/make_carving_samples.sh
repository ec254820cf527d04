#!/usr/bin/env bash
# Makes the sample files of the carving tests whose ends come from their own structure: files
# of several writers and layouts per format, a few KiB to some tens of KiB each. The files are
# committed; this script is run by hand (CI does not need the tools).
# Needs: imagemagick ghostscript ffmpeg zip gzip p7zip-full pandoc.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOURCE_DATE_EPOCH=1500000000 TZ=UTC
im=/usr/bin/convert

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video=(-f lavfi -i testsrc=size=96x64:rate=25:duration=0.4)
audio=(-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.4)

# Pictures: a fractal, so that strips and rows do not compress to nothing.
$im -seed 7 -size 160x120 plasma:fractal picture.png
$im picture.png -compress lzw -define tiff:rows-per-strip=16 "$out/strips_lzw.tif"
$im picture.png -compress none -define tiff:tile-geometry=64x64 "$out/tiled.tif"
$im picture.png -endian MSB -compress zip "$out/motorola.tif"
$im picture.png -resize 80x60 "$out/rle.psd"
$im picture.png -resize 80x60 -compress none "$out/raw.psd"
$im picture.png -resize 80x60 "$out/chunks.png"
$im picture.png -resize 80x60 -quality 80 "$out/baseline.jpg"
$im picture.png -resize 80x60 -quality 80 -interlace JPEG "$out/progressive.jpg"
# A PDF from Ghostscript (ImageMagick's policy leaves PDF writing out): text and a picture.
$im picture.png -resize 40x30 -compress none picture.ppm
cat > page.ps <<'PS'
%!PS
/Helvetica findfont 18 scalefont setfont
72 720 moveto (Keltra carving sample) show
72 600 translate 160 120 scale
PS
python3 - picture.ppm >> page.ps <<'PY'
import sys
data = open(sys.argv[1], "rb").read().split(b"\n", 3)[3]
print("40 30 8 [40 0 0 -30 0 30] {<%s>} false 3 colorimage" % data.hex())
print("showpage")
PY
gs -q -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$out/document.pdf" page.ps

# Video: fast start (movie box first) and plain MP4, QuickTime, 3GP, Matroska, FLV.
ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -q:v 8 -c:a aac -b:a 32k -shortest "$out/audio.mp4"
ff "${video[@]}" -c:v mpeg4 -q:v 8 -movflags +faststart "$out/faststart.mp4"
ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -q:v 8 -c:a pcm_s16le -shortest "$out/sound.mov"
ff -f lavfi -i testsrc=size=128x96:rate=10:duration=0.4 -c:v h263 -q:v 8 "$out/phone.3gp"
ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -q:v 8 -c:a mp2 -b:a 64k -shortest "$out/audio.mkv"
ff "${video[@]}" "${audio[@]}" -c:v flv1 -q:v 8 -c:a adpcm_swf -shortest "$out/audio.flv"

# Archives and documents: entries stored and deflated, a streamed zip (data descriptors), an
# OpenDocument and a Word document, gzip with one and with two members, 7z.
$im -seed 3 -size 64x64 plasma:fractal -compress none member.ppm
printf 'Keltra carving sample: a short text member.\n' > member.txt
zip -q -X "$out/mixed.zip" member.txt member.ppm
zip -q -X -0 stored.zip member.ppm && cp stored.zip "$out/stored.zip"
zip -q -X - member.txt member.ppm < /dev/null | cat > "$out/streamed.zip"
printf '# Keltra\n\nA sample document for the carving tests.\n' > doc.md
pandoc doc.md -o "$out/document.odt"
pandoc doc.md -o "$out/document.docx"
gzip -n -9 -c member.ppm > "$out/member.ppm.gz"
gzip -n -c member.txt > one.gz && gzip -n -c member.ppm > two.gz
cat one.gz two.gz > "$out/members.gz"
7z a -bd -bso0 "$out/archive.7z" member.txt member.ppm
ls -l "$out"
