#!/usr/bin/env python3
"""Copies the metadata a quick scan of a volume must read into one file, so that `cat` of that
file measures the time reading it takes.

usage: metadata_of_volume.py IMAGE OUT
       metadata_of_volume.py --to-null DEVICE   (only reads it: the time reading it takes)
       metadata_of_volume.py --kind IMAGE       (ntfs, fat32 or exfat; fails for any other)

NTFS: the $MFT's data (through `icat IMAGE 0`, The Sleuth Kit). FAT32: the first FAT and every
directory cluster reachable from the root through the FAT (live folders only: what any reader of
the tree must read). exFAT: the FAT and every directory cluster reachable from the root (through
the FAT, or contiguous where a folder's stream says its clusters need no chain).
"""
import struct
import subprocess
import sys


def fat32_metadata(image, out):
    with open(image, "rb") as f:
        boot = f.read(512)
        bps, spc, reserved, fats = struct.unpack_from("<HBHB", boot, 11)
        fat_sectors, = struct.unpack_from("<I", boot, 36)
        root, = struct.unpack_from("<I", boot, 44)
        f.seek(reserved * bps)
        fat = f.read(fat_sectors * bps)
        out.write(fat)
        data_start = (reserved + fats * fat_sectors) * bps
        cluster_bytes = spc * bps
        entries = len(fat) // 4
        queue, seen = [root], set()
        while queue:
            cluster = queue.pop()
            while 2 <= cluster < entries and cluster not in seen:
                seen.add(cluster)
                f.seek(data_start + (cluster - 2) * cluster_bytes)
                block = f.read(cluster_bytes)
                out.write(block)
                for off in range(0, len(block), 32):
                    e = block[off:off + 32]
                    if e[0] == 0:
                        break
                    if e[0] == 0xE5 or e[11] == 0x0F or not e[11] & 0x10 or e[0] == ord("."):
                        continue
                    queue.append(struct.unpack_from("<H", e, 20)[0] << 16 |
                                 struct.unpack_from("<H", e, 26)[0])
                cluster = struct.unpack_from("<I", fat, cluster * 4)[0] & 0x0FFFFFFF


def exfat_metadata(image, out):
    with open(image, "rb") as f:
        boot = f.read(512)
        fat_offset, fat_length, heap, _, root = struct.unpack_from("<IIIII", boot, 80)
        bps, spc = 1 << boot[108], 1 << boot[109]
        f.seek(fat_offset * bps)
        fat = f.read(fat_length * bps)
        out.write(fat)
        cluster_bytes = bps * spc
        entries = len(fat) // 4

        def clusters(first, length, contiguous):
            if contiguous:
                yield from range(first, first + max(1, -(-length // cluster_bytes)))
                return
            seen = set()
            while 2 <= first < entries and first not in seen:
                seen.add(first)
                yield first
                first = struct.unpack_from("<I", fat, first * 4)[0]

        queue = [(root, 0, False)]
        while queue:
            first, length, contiguous = queue.pop()
            for cluster in clusters(first, length, contiguous):
                f.seek((heap + (cluster - 2) * spc) * bps)
                block = f.read(cluster_bytes)
                out.write(block)
                for off in range(0, len(block) - 64, 32):
                    # A file entry set in use: 0x85, its stream extension 0xC0 right after.
                    if block[off] != 0x85 or block[off + 32] != 0xC0:
                        continue
                    attributes, = struct.unpack_from("<H", block, off + 4)
                    if attributes & 0x10:
                        stream = off + 32
                        queue.append((struct.unpack_from("<I", block, stream + 20)[0],
                                      struct.unpack_from("<Q", block, stream + 24)[0],
                                      bool(block[stream + 1] & 2)))


def kind(boot):
    if boot[3:7] == b"NTFS":
        return "ntfs"
    if boot[82:90] == b"FAT32   ":
        return "fat32"
    if boot[3:11] == b"EXFAT   ":
        return "exfat"
    return None


def main():
    if sys.argv[1] in ("--to-null", "--kind"):
        image, out = sys.argv[2], "/dev/null"
    else:
        image, out = sys.argv[1], sys.argv[2]
    with open(image, "rb") as f:
        found = kind(f.read(512))
    if found is None:
        sys.exit(f"{image}: not NTFS, FAT32 or exFAT")
    if sys.argv[1] == "--kind":
        print(found)
        return
    with open(out, "wb") as o:
        if found == "ntfs":
            o.write(subprocess.run(["icat", image, "0"], capture_output=True, check=True).stdout)
        elif found == "fat32":
            fat32_metadata(image, o)
        else:
            exfat_metadata(image, o)


if __name__ == "__main__":
    main()
