#!/usr/bin/env bash
# Makes the sample files of today's phone, camera and web formats for the carving tests, each
# with the tool that writes it, a few KiB each. The files are committed; this script is run by
# hand (CI does not need the tools). The camera RAW files come from make_raw_samples.py.
# Needs: imagemagick libimage-exiftool-perl libheif-examples libavif-bin webp libjxl-tools libopenjp2-tools
#        vorbis-tools opus-tools flac sox ffmpeg gimp python3.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOURCE_DATE_EPOCH=1500000000 TZ=UTC
im=/usr/bin/convert

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y -fflags +bitexact "$@"; }
video=(-f lavfi -i testsrc=size=96x64:rate=25:duration=0.4)
audio=(-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.5)

# Pictures from one fractal.
$im -seed 11 -size 160x120 plasma:fractal picture.png
$im picture.png -resize 96x72 small.png
heif-enc -q 40 small.png -o "$out/phone.heic" > /dev/null
avifenc --min 30 --max 40 -s 8 small.png "$out/photo.avif" > /dev/null
cwebp -quiet -q 60 small.png -o "$out/photo.webp"
cwebp -quiet -lossless -z 1 -resize 48 36 small.png -o "$out/lossless.webp"
cjxl --quiet -d 2 small.png "$out/bare.jxl"
cjxl --quiet -d 2 --container=1 small.png "$out/boxed.jxl"
cjxl --quiet -m 1 -d 2 small.png "$out/modular.jxl"
$im picture.png -resize '560x300!' wide.png
cjxl --quiet -d 4 wide.png "$out/groups.jxl"  # six groups: a table of contents of ten sections
$im -delay 10 -size 40x30 xc:red xc:blue xc:green frames.gif
cjxl --quiet frames.gif "$out/animation.jxl"  # three frames, the last one marked
$im small.png -resize 48x36 small.ppm
opj_compress -i small.ppm -o "$out/photo.jp2" -r 20 > /dev/null
opj_compress -i small.ppm -o "$out/stream.j2c" -r 20 > /dev/null
$im small.png -resize 40x30 "$out/photo.ppm"
$im small.png -resize 40x30 -colorspace gray "$out/photo.pgm"
$im small.png -resize 40x30 -monochrome "$out/photo.pbm"
# GIMP's own file: the picture, a smaller filled layer above it with a layer mask, and a
# selection (saved as a channel).
gimp-console -i -d -f -b '
(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "small.png" "small.png")))
       (base (car (gimp-image-get-active-layer image)))
       (top (car (gimp-layer-new image 40 30 RGBA-IMAGE "Label" 80 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer image top 0 0)
  (gimp-layer-set-offsets top 8 6)
  (gimp-context-set-foreground (quote (200 40 40)))
  (gimp-drawable-fill top FILL-FOREGROUND)
  (gimp-layer-add-mask top (car (gimp-layer-create-mask top ADD-MASK-WHITE)))
  (gimp-image-select-ellipse image CHANNEL-OP-REPLACE 10 10 50 40)
  (gimp-xcf-save 0 image base "layers.xcf" "layers.xcf")
  (gimp-quit 0))' > /dev/null 2>&1
cp layers.xcf "$out/layers.xcf"
# A film scanner's TIFF names its maker as a camera's RAW file does, but holds no sensor data.
$im small.png -resize 64x48 -compress lzw scanner.tif
exiftool -q -overwrite_original -Make=Nikon -Model="LS-5000" scanner.tif
cp scanner.tif "$out/scanner.tif"
# Small files are files all the same: an icon-sized GIF and PNG, a short WAV.
$im small.png -resize 8x8 "$out/tiny.gif"
$im small.png -resize 4x4 -strip "$out/icon.png"
sox -n -r 8000 -b 8 -c 1 "$out/click.wav" synth 0.02 sine 1000

# Sound.
ff "${audio[@]}" sound.wav
oggenc -Q -q 0 -o "$out/sound.ogg" sound.wav
opusenc --quiet --bitrate 16 sound.wav "$out/voice.opus"
flac -s -f --ogg -o "$out/sound.oga" sound.wav
flac -s -f -o "$out/sound.flac" sound.wav
sox sound.wav "$out/sound.aiff"
sox sound.wav -t aifc "$out/sound.aifc"
ff "${audio[@]}" -c:a aac -b:a 24k "$out/sound.m4a"

# Video.
ff "${video[@]}" -c:v libtheora -q:v 3 "$out/video.ogv"
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -q:v 8 -c:a mp2 -b:a 64k -shortest -f vob "$out/program.vob"
ff "${video[@]}" "${audio[@]}" -c:v mpeg1video -q:v 8 -c:a mp2 -b:a 64k -shortest -f mpeg "$out/program.mpg"
ff "${video[@]}" -c:v mpeg4 -q:v 8 -f ipod "$out/video.m4v"
ff -f lavfi -i testsrc=size=128x96:rate=10:duration=0.4 -c:v h263 -q:v 8 -f 3g2 "$out/phone.3g2"
# Two frames of PAL DV with sound, as a DV camcorder writes them.
ff -f lavfi -i testsrc=size=720x576:rate=25:duration=0.08 \
   -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.08 \
   -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -shortest -f dv "$out/camcorder.dv"
# A classic QuickTime movie has no "ftyp" box: it begins with "wide" and "mdat" (cameras of
# the time wrote it so). ffmpeg's movie with that box taken out.
ff "${video[@]}" -c:v mjpeg -q:v 10 -movflags +write_colr quick.mov
python3 - quick.mov "$out/classic.mov" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
size = struct.unpack('>I', data[:4])[0]
assert data[4:8] == b'ftyp'
rest = data[size:]
# Offsets in the movie's chunk tables point into the file: shift them by the box taken out.
import re
out = bytearray(rest)
def fix(tag, width):
    pos = 0
    while True:
        pos = out.find(tag, pos)
        if pos < 0:
            return
        count = struct.unpack('>I', out[pos + 8:pos + 12])[0]
        fmt = '>Q' if width == 8 else '>I'
        for i in range(count):
            at = pos + 12 + i * width
            out[at:at + width] = struct.pack(fmt, struct.unpack(fmt, out[at:at + width])[0] - size)
        pos += 4
fix(b'stco', 4)
fix(b'co64', 8)
open(sys.argv[2], 'wb').write(out)
PY

python3 "$out/make_raw_samples.py" "$out"
ls -l "$out"
