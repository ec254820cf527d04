#!/usr/bin/env python3
"""Copies the metadata a quick scan of a volume must read into one file, so that `cat` of that
file measures the time reading it takes.

usage: metadata_of_volume.py IMAGE OUT
       metadata_of_volume.py --to-null DEVICE   (only reads it: the time reading it takes)

NTFS: the $MFT's data (through `icat IMAGE 0`, The Sleuth Kit). FAT32: the first FAT and every
directory cluster reachable from the root through the FAT (live folders only: what any reader of
the tree must read).
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


def main():
    if sys.argv[1] == "--to-null":
        image, out = sys.argv[2], "/dev/null"
    else:
        image, out = sys.argv[1], sys.argv[2]
    with open(image, "rb") as f:
        boot = f.read(512)
    with open(out, "wb") as o:
        if boot[3:7] == b"NTFS":
            o.write(subprocess.run(["icat", image, "0"], capture_output=True, check=True).stdout)
        elif boot[82:90] == b"FAT32   ":
            fat32_metadata(image, o)
        else:
            sys.exit(f"{image}: neither NTFS nor FAT32")


if __name__ == "__main__":
    main()
