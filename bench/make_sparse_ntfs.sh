#!/usr/bin/env bash
# Makes OUT: a large NTFS volume (GIB GiB, 64 by default) that is almost all free space, as a
# new disk is: mkntfs on a sparse file, then a few files written through ntfs-3g. The file stays
# sparse (a few MiB on disk); reading it gives zeros but for the metadata and the files.
# usage: make_sparse_ntfs.sh OUT [GIB]
set -euo pipefail
out=${1:?usage: make_sparse_ntfs.sh OUT [GIB]}
gib=${2:-64}
here=$(cd "$(dirname "$0")" && pwd)
tmp="$out.part"
rm -f "$tmp"
truncate -s "${gib}G" "$tmp"
mkntfs -F -Q -q -c 4096 -L EMPTY "$tmp" 2>/dev/null
mnt=$(mktemp -d)
ntfs-3g -o noatime "$tmp" "$mnt"
mkdir -p "$mnt/Pictures"
cp "$here"/../tests/data/photos/* "$mnt/Pictures/"
cp "$here"/../tests/data/signatures/sample.pdf "$here"/../tests/data/signatures/sample.mp4 "$mnt/"
rm "$mnt/Pictures/city.jpg" "$mnt/sample.mp4"
sync
umount "$mnt"
rmdir "$mnt"
mv "$tmp" "$out"
