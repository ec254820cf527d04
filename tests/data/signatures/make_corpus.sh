#!/usr/bin/env bash
# Makes the small sample files of every format the signature table knows, with the tools that
# write those formats. The files are committed; this script is run by hand (CI does not need
# ffmpeg or LibreOffice). Needs: imagemagick exiftool sox lame ffmpeg abcmidi gcab p7zip-full
# twolame mjpegtools zip sqlite3 fonts-dejavu-core mingw-w64 python3 libreoffice-{writer,calc,impress}-nogui.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOURCE_DATE_EPOCH=1500000000 TZ=UTC

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video=(-f lavfi -i testsrc=size=64x48:rate=25:duration=0.2)
audio=(-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.2)

# Pictures (ImageMagick; exiftool for an Exif-first JPEG).
convert -size 24x16 gradient:blue-yellow -quality 70 "$out/jfif.jpg"
convert -size 24x16 gradient:red-green -quality 70 -strip exif.jpg
exiftool -q -overwrite_original -JFIF:all= -EXIF:Make=Keltra -EXIF:Model=Sample exif.jpg
cp exif.jpg "$out/exif.jpg"
convert -size 24x16 gradient:red-blue "$out/sample.png"
convert -size 24x16 gradient:red-blue -colors 8 "$out/sample.gif"
convert -size 24x16 gradient:red-blue BMP3:"$out/sample.bmp"
convert -size 24x16 gradient:red-blue -compress none "$out/sample.tif"
convert -size 24x16 gradient:red-blue "$out/sample.psd"
convert -size 16x16 gradient:red-blue \( +clone -resize 8x8 \) "$out/sample.ico"

# Audio.
sox -n -r 8000 -c 1 -b 16 "$out/sample.wav" synth 0.2 sine 440
lame --quiet -b 32 --add-id3v2 --tt "Keltra sample" "$out/sample.wav" "$out/sample.mp3"
printf 'X:1\nT:Sample\nM:4/4\nL:1/8\nK:C\nCDEF GABc|\n' > sample.abc
abc2midi sample.abc -o "$out/sample.mid" > /dev/null
# Plain stereo, not marked original: the header the layer 2 row expects.
sox -n -r 48000 -c 2 -b 16 tone48.wav synth 0.2 sine 440
twolame --quiet -m s -o -b 384 tone48.wav "$out/sample.mp2"
ff "${audio[@]}" -c:a adpcm_yamaha -f mmf "$out/sample.mmf"
ff "${audio[@]}" -c:a wmav2 -b:a 32k "$out/sample.wma"

# Video.
ff "${video[@]}" -c:v mpeg4 -q:v 10 "$out/sample.avi"
ff "${video[@]}" -c:v mpeg4 -q:v 10 "$out/sample.mp4"
# The same with the closing "free" box that some muxers write with their name.
cp "$out/sample.mp4" signed.mp4
python3 - signed.mp4 <<'PY'
import struct, sys
text = b"IsoMedia File Produced with GPAC 0.5.2\0"
with open(sys.argv[1], "ab") as f:
    f.write(struct.pack(">I", 8 + len(text)) + b"free" + text)
PY
cp signed.mp4 "$out/signed.mp4"
ff "${video[@]}" -c:v mpeg4 -q:v 10 "$out/sample.mov"
ff -f lavfi -i testsrc=size=128x96:rate=10:duration=0.2 -c:v h263 -q:v 10 "$out/sample.3gp"
ff "${video[@]}" -c:v mpeg4 -q:v 10 "$out/sample.mkv"
ff "${video[@]}" -c:v flv1 -q:v 10 "$out/sample.flv"
# mjpegtools close their streams with the end codes (ffmpeg leaves them out).
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=0.4 -pix_fmt yuv420p -f yuv4mpegpipe - |
    mpeg2enc -v 0 -f 0 -a 1 -o "$out/sample.m1v"
mplex -v 0 -f 0 -o "$out/sample.mpg" "$out/sample.m1v"
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=3 -c:v mpeg2video -q:v 10 -f mpegts "$out/sample.ts"
# AVCHD cameras write M2TS whose association table names the network table too, under
# transport stream id 0 and begin with that table; ffmpeg cannot set id 0 and sends its service
# table first, so the script sets the id (fixing the CRC) and leaves the service table out.
ff "${video[@]}" -c:v mpeg2video -q:v 10 -f mpegts -mpegts_m2ts_mode 1 -mpegts_flags nit m2ts.m2ts
python3 - m2ts.m2ts <<'PY'
import sys, zlib
def crc32_mpeg(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc
src = open(sys.argv[1], "rb").read()
pid = lambda p: ((src[p + 5] & 0x1F) << 8) | src[p + 6]
d = bytearray(b"".join(src[p:p + 192] for p in range(0, len(src), 192) if pid(p) != 0x11))
for p in range(0, len(d), 192):
    pkt = p + 4
    if d[pkt] == 0x47 and d[pkt + 1] & 0x1F == 0 and d[pkt + 2] == 0 and d[pkt + 1] & 0x40:
        sec = pkt + 5  # pointer field 0
        length = ((d[sec + 1] & 0x0F) << 8) | d[sec + 2]
        d[sec + 3] = d[sec + 4] = 0
        crc = crc32_mpeg(d[sec:sec + 3 + length - 4])
        d[sec + 3 + length - 4:sec + 3 + length] = crc.to_bytes(4, "big")
open(sys.argv[1], "wb").write(d)
PY
cp m2ts.m2ts "$out/sample.mts"
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=0.2 -c:v mpeg2video -q:v 10 -f mxf "$out/sample.mxf"
ff "${video[@]}" -c:v wmv2 -q:v 10 "$out/sample.wmv"
ff "${video[@]}" -c:v mjpeg -q:v 10 -f swf "$out/sample.swf"
ff "${video[@]}" "${audio[@]}" -c:v rv10 -q:v 10 -c:a ac3 -b:a 32k -ar 48000 -f rm "$out/sample.rm"

# Office documents (LibreOffice).
printf 'Keltra sample document\n' > doc.txt
printf 'a,b\n1,2\n' > sheet.csv
cat > slides.fodp <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation><draw:page draw:name="p1">
  <draw:frame svg:x="1cm" svg:y="1cm" svg:width="10cm" svg:height="2cm"><draw:text-box>
   <text:p>Keltra sample slide</text:p></draw:text-box></draw:frame>
 </draw:page></office:presentation></office:body></office:document>
XML
lo() { soffice --headless --convert-to "$1" --outdir . "$2" > /dev/null 2>&1; }
lo doc doc.txt && lo docx doc.txt && lo pdf doc.txt
lo xls sheet.csv && lo xlsx sheet.csv
lo ppt slides.fodp && lo pptx slides.fodp
cp doc.doc "$out/sample.doc"; cp doc.docx "$out/sample.docx"; cp doc.pdf "$out/sample.pdf"
cp sheet.xls "$out/sample.xls"; cp sheet.xlsx "$out/sample.xlsx"
cp slides.ppt "$out/sample.ppt"; cp slides.pptx "$out/sample.pptx"

# Archives, a database, a font.
printf 'Keltra sample archive member\n' > member.txt
zip -q -X "$out/sample.zip" member.txt
gzip -n -c member.txt > "$out/sample.gz"
7z a -bd -bso0 "$out/sample.7z" member.txt
gcab -c "$out/sample.cab" member.txt
rm -f "$out/sample.db"
sqlite3 "$out/sample.db" 'CREATE TABLE t(a); INSERT INTO t VALUES (1);'
cp /usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf "$out/sample.ttf"

# Programs (mingw-w64): an exe, a dll, and a driver image with the system flag.
printf 'int main(void) { return 0; }\n' > prog.c
printf '__declspec(dllexport) int Add(int a, int b) { return a + b; }\n' > lib.c
printf 'int DriverEntry(void* d, void* r) { (void)d; (void)r; return 0; }\n' > drv.c
x86_64-w64-mingw32-gcc -Os -s prog.c -o "$out/sample.exe"
x86_64-w64-mingw32-gcc -Os -s -shared lib.c -o "$out/sample.dll"
x86_64-w64-mingw32-gcc -Os -s -nostdlib -shared -Wl,--subsystem,native -Wl,--entry,DriverEntry \
    drv.c -o drv.sys
# The linker has no switch for the system flag (0x1000) of the file header; set it.
python3 - drv.sys <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", d, 60)[0]
c = struct.unpack_from("<H", d, pe + 22)[0]
struct.pack_into("<H", d, pe + 22, c | 0x1000)
open(sys.argv[1], "wb").write(d)
PY
cp drv.sys "$out/sample.sys"
ls -l "$out"
du -sh "$out"
