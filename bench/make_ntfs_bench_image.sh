#!/usr/bin/env bash
# Makes OUT: a 512 MiB NTFS volume (mkntfs) holding 100,000 small JPEG files (a 315-byte
# sample, kept in the MFT record) in 2,000 folders,
# written through an ntfs-3g mount, of which every other file (50,000) was then deleted; its
# MFT has over 100,000 records. Takes minutes: every file goes through FUSE.
set -euo pipefail
out=${1:?usage: make_ntfs_bench_image.sh OUT}
here=$(cd "$(dirname "$0")" && pwd)
sample="$here/../tests/data/signatures/jfif.jpg"
tmp="$out.partial"
rm -f "$tmp"
truncate -s 512M "$tmp"
mkntfs -F -Q -q -c 4096 -L BENCH "$tmp" 2>/dev/null
mnt=$(mktemp -d)
ntfs-3g -o noatime "$tmp" "$mnt"
python3 - "$mnt" "$sample" <<'PY'
import os, sys
root = sys.argv[1]
with open(sys.argv[2], "rb") as f:
    jpeg = f.read()
for d in range(2000):
    folder = os.path.join(root, "album%04d" % d, "sub")
    os.makedirs(folder)
    for i in range(50):
        fd = os.open(os.path.join(folder, "IMG_%05d.jpg" % i), os.O_WRONLY | os.O_CREAT, 0o644)
        os.write(fd, jpeg)
        os.close(fd)
for d in range(2000):
    folder = os.path.join(root, "album%04d" % d, "sub")
    for i in range(0, 50, 2):
        os.unlink(os.path.join(folder, "IMG_%05d.jpg" % i))
PY
sync
umount "$mnt"
rmdir "$mnt"
mv "$tmp" "$out"
