#!/usr/bin/env bash
# Makes the fuzz targets' seed inputs (fuzz/corpus/NAME/) from the fixture images: small slices
# of the structures each target parses, in the layout each target expects.
# usage: [KELTRA=path/to/keltra] make_corpus.sh FIXTURE_DIR [OUT_DIR]; with KELTRA, a real deep scan
# also gives the seeds of the scan history and scan log targets.
set -euo pipefail
fixtures=${1:?usage: make_corpus.sh FIXTURE_DIR [OUT_DIR]}
here="$(cd "$(dirname "$0")" && pwd)"
out=${2:-$here/corpus}
python3 - "$fixtures" "$out" "$here/.." <<'PY'
import os, struct, sys

fixtures, out, root = sys.argv[1:4]
MAX = 64 * 1024


def put(target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data[:MAX])


def image(name):
    path = os.path.join(fixtures, name)
    return open(path, "rb").read() if os.path.exists(path) else None


def ntfs_mft(data, first, count):
    bps = struct.unpack_from("<H", data, 11)[0]
    spc = data[13]
    lcn = struct.unpack_from("<Q", data, 48)[0]
    at = lcn * spc * bps + first * 1024
    return data[at:at + count * 1024]


def fat_layout(data):
    bps = struct.unpack_from("<H", data, 11)[0]
    spc = data[13]
    reserved = struct.unpack_from("<H", data, 14)[0]
    fats = data[16]
    root_entries = struct.unpack_from("<H", data, 17)[0]
    fat_size = struct.unpack_from("<H", data, 22)[0] or struct.unpack_from("<I", data, 36)[0]
    fat_at = reserved * bps
    root_at = fat_at + fats * fat_size * bps
    data_at = root_at + root_entries * 32
    return bps, spc, fat_at, root_at, data_at


def dot_sectors(data, data_at, limit):
    """The directory sectors of subfolders: those that start with the "." entry, each with the
    sector after it."""
    found = []
    for at in range(data_at, len(data) - 1024, 512):
        if data[at:at + 11] == b".          " and data[at + 32:at + 43] == b"..         ":
            found.append(data[at:at + 1024])
            if sum(map(len, found)) >= limit:
                break
    return b"".join(found)


# NTFS: the system files' records and the records of files, deleted ones among them.
for img in ("ntfs.img", "ntfs_deleted.img", "ntfs_4k.img", "ntfs_fragmented_mft.img"):
    data = image(img)
    if not data:
        continue
    base = img[:-4]
    for first in (0, 16, 32):
        records = ntfs_mft(data, first, 16)
        if records.strip(b"\0"):
            put("ntfs_record", f"{base}_{first}", records)
            put("ntfs_deep_record", f"{base}_{first}", records)
    put("examine_buffer", f"{base}_mft", b"\0" + ntfs_mft(data, 0, 48))

# The first 16 KiB of every volume and disk.
for img in ("ntfs.img", "ntfs_4k.img", "fat12.img", "fat16.img", "fat32.img", "ext4.img", "mbr.img",
            "gpt.img"):
    if os.path.exists(os.path.join(fixtures, img)):
        with open(os.path.join(fixtures, img), "rb") as f:
            put("boot_area", img[:-4], f.read(16 * 1024))

# GPT: the header sector and the entry array behind it, of the disk images with a GPT table.
for img in ("gpt.img", "tables_gpt.img"):
    data = image(img)
    if data:
        put("gpt_table", img[:-4], data[512:1024 + 16 * 1024])

# FAT: the start of the FAT, the root folder and the first clusters; the deep search gets the
# boot sector, the root folder and the sectors of subfolders.
for kind, img in enumerate(("fat12.img", "fat16.img", "fat32.img")):
    data = image(img)
    if not data:
        continue
    bps, spc, fat_at, root_at, data_at = fat_layout(data)
    folder = data[root_at:root_at + 16 * 1024] if root_at != data_at else data[data_at:data_at + 16 * 1024]
    put("fat_directory", img[:-4], bytes([kind]) + data[fat_at:fat_at + 1024] + folder)
    put("examine_buffer", img[:-4], b"\0" + data[:32 * 1024])
for img in ("fat16_deep.img", "fat32_deep.img", "fat12.img", "fat16.img"):
    data = image(img)
    if not data:
        continue
    bps, spc, fat_at, root_at, data_at = fat_layout(data)
    deep = data[:512] + data[root_at:min(data_at, root_at + 8192)] + dot_sectors(data, data_at, 32 * 1024)
    put("fat_deep", img[:-4], deep)
    put("examine_buffer", img[:-4] + "_folders", b"\0" + deep)

# exFAT: the deep search gets the boot region followed by the sectors that hold entry sets, and a
# window from the first of them on (no boot region: the geometry is then inferred); the entry-set
# target gets the start of the FAT, an empty bitmap and the root folder.
def entry_set_sectors(data, limit):
    found = []
    for at in range(0, len(data) - 64, 512):
        sector = data[at:at + 512]
        if any(sector[i] in (0x85, 0x05) and sector[i + 32] in (0xC0, 0x40) for i in range(0, 480, 32)):
            found.append(at)
            if len(found) >= limit:
                break
    return found


for img in ("exfat.img", "photos_exfat.img", "exfat_card.img", "exfat_card_same.img",
            "exfat_card_other.img", "exfat_card_noboot.img", "exfat_card_mbr.img"):
    data = image(img)
    if not data:
        continue
    base = img[:-4]
    sets = entry_set_sectors(data, 100)
    if not sets:
        continue
    put("exfat_deep_search", base, data[:12 * 512] + b"".join(data[at:at + 512] for at in sets))
    put("exfat_deep_search", base + "_window", data[sets[0]:sets[0] + MAX])
    start = struct.unpack_from("<I", data, 0x1C6)[0] * 512 if data[0x1FE:0x200] == b"\x55\xaa" and data[3:11] != b"EXFAT   " else 0
    if data[start + 3:start + 11] == b"EXFAT   ":
        shift = data[start + 108]
        fat_at = start + (struct.unpack_from("<I", data, start + 80)[0] << shift)
        put("exfat_entry_set", base, data[fat_at:fat_at + 1024] + bytes(56) + data[sets[0]:sets[0] + 16 * 1024])

# Carving: the first 4 KiB of each kind of original file, as a disk of 512-byte sectors.
originals = []
for folder in ("photos_originals", "fat_originals", "fat_deep_originals"):
    path = os.path.join(fixtures, folder)
    for dirpath, _, files in os.walk(path):
        for f in sorted(files):
            originals.append(os.path.join(dirpath, f))
for folder in ("signatures", "photos", "formats"):
    path = os.path.join(root, "tests", "data", folder)
    if os.path.isdir(path):
        originals += [os.path.join(path, f) for f in sorted(os.listdir(path)) if not f.endswith((".sh", ".py"))]
kinds = {}
for path in originals:
    ext = os.path.splitext(path)[1].lower()
    if ext and ext not in kinds:
        kinds[ext] = path
for n, (ext, path) in enumerate(sorted(kinds.items())):
    with open(path, "rb") as f:
        start = f.read(4 * 1024)
    name = ext[1:]
    put("carve_at_sector", name, b"\0\0" + start)
    put("check_file_content", name, bytes([n, 0x70, 0]) + start)
    put("examine_buffer", "carve_" + name, b"\0" + start)

# The desktop program's INI files.
for rel in ("app/data/config.ini", "app/data/Languages/English.ini"):
    path = os.path.join(root, rel)
    if os.path.exists(path):
        put("ini_file", os.path.basename(path), open(path, "rb").read())
PY
# A scan history and a scan log made by a real deep scan, when the command line is given.
if [ -n "${KELTRA:-}" ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    XDG_DATA_HOME="$scratch" "$KELTRA" scan --deep "$fixtures/fat16_deep.img" >/dev/null
    history=$(dirname "$(find "$scratch" -name config | head -n1)")
    mkdir -p "$out/scan_history" "$out/scan_log_store"
    cp "$history/config" "$out/scan_history/deep_fat16"
    for log in $(find "$history" -type f \( -name 'Fast_*' -o -name 'Pro_Fat_*' \) \
        ! -name '*_Relation' ! -name '*_DirInfo'); do
        name=$(basename "$log")
        python3 - "$log" "$out/scan_log_store/${name%%_[0-9]*}" <<'PY'
import os, struct, sys
def read(path):
    return open(path, "rb").read() if os.path.exists(path) else b""
main = read(sys.argv[1])
relation = read(sys.argv[1] + "_Relation")[:16384]
folders = read(sys.argv[1] + "_DirInfo")[:4 * 1024]
folders = folders[:len(folders) // 4 * 4]
with open(sys.argv[2], "wb") as f:
    f.write(struct.pack("<HH", len(relation), len(folders) // 4) + relation + folders + main[:32768])
PY
    done
fi
