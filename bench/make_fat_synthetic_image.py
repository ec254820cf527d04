#!/usr/bin/env python3
"""Writes a FAT32 volume directly (no mkfs, no mount), fast enough for millions of entries.

usage: make_fat_synthetic_image.py OUT FOLDERS FILES_PER_FOLDER

The root holds FOLDERS live folders "D0000000" ...; each holds FILES_PER_FOLDER deleted files
"F0000000.DAT" ... of 100 bytes, each with a cluster of its own (its FAT entry free, as after a
deletion). Clusters are 512 bytes; file data is left as zeros (the image is sparse), so the
image of a million files takes about 35 MB on disk.
"""
import struct
import sys

SECTOR = 512
RESERVED = 32
ENTRY = 32


def dir_entry(name11, attr, cluster, size, deleted=False):
    name = bytearray(name11)
    if deleted:
        name[0] = 0xE5
    time, date = 0x6000, 0x5021  # 12:00:00, 2020-01-01
    return struct.pack("<11sBBBHHHHHHHI", bytes(name), attr, 0, 0, time, date, date,
                       cluster >> 16, time, date, cluster & 0xFFFF, size)


def main():
    out, folders, per_folder = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    per_cluster = SECTOR // ENTRY
    root_clusters = -(-(folders + 1) // per_cluster)  # the volume label and the folders
    folder_clusters = -(-(per_folder + 2) // per_cluster)
    data_clusters = folders * per_folder
    clusters = root_clusters + folders * folder_clusters + data_clusters
    clusters = max(clusters, 66000)  # FAT32 needs at least 65,525 clusters
    fat_sectors = -(-((clusters + 2) * 4) // SECTOR)
    data_start = RESERVED + 2 * fat_sectors
    total = data_start + clusters

    boot = bytearray(SECTOR)
    boot[0:3] = b"\xEB\x58\x90"
    boot[3:11] = b"MSWIN4.1"
    struct.pack_into("<HBHBHHBHHHII", boot, 11, SECTOR, 1, RESERVED, 2, 0, 0, 0xF8, 0, 32, 64,
                     0, total)
    struct.pack_into("<IHHIHH", boot, 36, fat_sectors, 0, 0, 2, 1, 6)
    struct.pack_into("<BBBI11s8s", boot, 64, 0x80, 0, 0x29, 0x1234ABCD, b"SYNTHETIC  ",
                     b"FAT32   ")
    boot[510:512] = b"\x55\xAA"

    fat = bytearray(fat_sectors * SECTOR)
    struct.pack_into("<II", fat, 0, 0x0FFFFFF8, 0x0FFFFFFF)

    def chain(first, count):
        for i in range(count):
            nxt = first + i + 1 if i + 1 < count else 0x0FFFFFFF
            struct.pack_into("<I", fat, 4 * (first + i), nxt)

    next_cluster = 2
    root_first = next_cluster
    chain(root_first, root_clusters)
    next_cluster += root_clusters
    folder_first = []
    for _ in range(folders):
        folder_first.append(next_cluster)
        chain(next_cluster, folder_clusters)
        next_cluster += folder_clusters
    data_first = next_cluster

    def cluster_offset(c):
        return (data_start + c - 2) * SECTOR

    with open(out, "wb") as f:
        f.truncate(total * SECTOR)
        f.seek(0)
        f.write(boot)
        f.seek(6 * SECTOR)
        f.write(boot)
        for copy in range(2):
            f.seek((RESERVED + copy * fat_sectors) * SECTOR)
            f.write(fat)
        root = bytearray()
        root += dir_entry(b"SYNTHETIC  ", 0x08, 0, 0)
        for d in range(folders):
            root += dir_entry(b"D%07d   " % d, 0x10, folder_first[d], 0)
        f.seek(cluster_offset(root_first))
        f.write(root)
        data = data_first
        for d in range(folders):
            body = bytearray()
            body += dir_entry(b".          ", 0x10, folder_first[d], 0)
            body += dir_entry(b"..         ", 0x10, 0, 0)
            for i in range(per_folder):
                body += dir_entry(b"F%07dDAT" % i, 0x20, data, 100, deleted=True)
                data += 1
            f.seek(cluster_offset(folder_first[d]))
            f.write(body)


if __name__ == "__main__":
    main()
