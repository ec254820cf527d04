#!/usr/bin/env bash
# Makes the small pictures of the photo metadata and thumbnail tests: JPEG and TIFF with EXIF
# written by exiftool, a file laid out as a camera's RAW with its preview JPEG, and one picture
# of each other format the thumbnails decode. The files are committed; this script is run by
# hand (CI does not need the tools).
# Needs: imagemagick libimage-exiftool-perl webp libheif-examples python3.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOURCE_DATE_EPOCH=1500000000 TZ=UTC
im=/usr/bin/convert
et() { exiftool -q -overwrite_original "$@"; }

$im -seed 3 -size 96x72 plasma:fractal -depth 8 picture.png
$im picture.png -resize 32x24 -quality 70 thumb.jpg

# A camera's JPEG: the date taken, the camera, and the small thumbnail cameras embed.
$im picture.png -quality 80 "$out/taken.jpg"
et -Make=Canon "-Model=Canon EOS 5D Mark IV" "-DateTimeOriginal=2023:07:14 18:03:22" \
    "-CreateDate=2023:07:14 18:03:22" "-ModifyDate=2024:01:02 03:04:05" \
    "-ThumbnailImage<=thumb.jpg" "$out/taken.jpg"
# The same second as taken.jpg from a second camera: two files, one name.
$im picture.png -rotate 90 -quality 80 "$out/same_second.jpg"
et "-Model=NIKON D750" "-DateTimeOriginal=2023:07:14 18:03:22" "$out/same_second.jpg"
# Only the date of digitising, as some scanners write it.
$im picture.png -quality 80 "$out/digitized.jpg"
et "-CreateDate=2019:02:28 07:00:01" "$out/digitized.jpg"
# A camera whose clock was never set writes a blank date.
$im picture.png -quality 80 "$out/blank_date.jpg"
et "-Model=Generic Cam" "-DateTimeOriginal#=0000:00:00 00:00:00" "$out/blank_date.jpg"
# No EXIF at all.
$im picture.png -quality 80 -strip "$out/plain.jpg"
# TIFF, the container of most RAW formats, with its EXIF in a sub-IFD.
$im picture.png -depth 8 -compress lzw "$out/taken.tif"
et "-Model=NIKON D750" "-DateTimeOriginal=2021:12:31 23:59:59" "$out/taken.tif"

# A RAW file's preview: larger than the thumbnails, as cameras make them.
$im -seed 5 -size 200x150 plasma:fractal -quality 80 preview.jpg
python3 "$out/make_raw_sample.py" preview.jpg "$out/preview.nef"
# The other formats of the thumbnail grid.
$im picture.png "$out/picture.png"
$im picture.png "$out/picture.gif"
$im picture.png -type TrueColor "BMP3:$out/picture.bmp"
cwebp -quiet -q 70 picture.png -o "$out/picture.webp"
heif-enc -q 50 picture.png -o "$out/picture.heic" >/dev/null
