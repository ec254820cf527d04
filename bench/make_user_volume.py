#!/usr/bin/env python3
"""Makes a volume shaped like a user's: many files of mixed kinds and sizes in folders of very
different sizes, with a history of deletions, so that the deleted files' records, their data and
the folders they lie in are scattered as on a disk in use.

usage: make_user_volume.py ntfs|fat|exfat OUT [PERCENT]

History (PERCENT 100, the default; a smaller one scales every count down): 80,000 files written into 2,000 folders (nested up to three deep, a few
holding hundreds of files, most a handful); 30,000 of them deleted at random; 50,000 more
written (they take the freed MFT records, directory slots and clusters); then 50,000 of all live
files deleted at random. The NTFS volume (4 GiB, mkntfs, 4 KiB clusters) ends with about 100,000
MFT records of which about 50,000 describe deleted files; it is written through ntfs-3g (takes
minutes). The FAT32 volume (4 GiB, mkfs.vfat, 4 KiB clusters) is written with mtools; the exFAT
volume (4 GiB, mkfs.exfat, 4 KiB clusters) through exfat-fuse over a loop device (minutes).

Files begin with the bytes of the samples of tests/data/signatures (so their content checks
pass), then random bytes to a size between 1 KiB and 48 KiB (log-uniform); one in twelve is under
600 bytes (kept inside its MFT record on NTFS). Random choices are seeded: the same PERCENT gives
the same volume.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "tests", "data", "signatures")

# (extension, sample file or None for text, weight, name pattern)
KINDS = [
    ("jpg", "exif.jpg", 36, "IMG_{n:05d}"),
    ("png", "sample.png", 7, "Screenshot {n:05d}"),
    ("gif", "sample.gif", 3, "anim{n:05d}"),
    ("mp4", "sample.mp4", 6, "VID_{n:05d}"),
    ("mov", "sample.mov", 3, "MOV{n:05d}"),
    ("avi", "sample.avi", 2, "clip{n:05d}"),
    ("mp3", "sample.mp3", 8, "Track {n:05d}"),
    ("wav", "sample.wav", 2, "memo{n:05d}"),
    ("pdf", "sample.pdf", 6, "Invoice {n:05d}"),
    ("docx", "sample.docx", 6, "Report {n:05d}"),
    ("doc", "sample.doc", 3, "Letter {n:05d}"),
    ("xlsx", "sample.xlsx", 3, "Budget {n:05d}"),
    ("zip", "sample.zip", 3, "backup{n:05d}"),
    ("txt", None, 8, "notes {n:05d}"),
    ("bmp", "sample.bmp", 2, "scan{n:05d}"),
    ("tif", "sample.tif", 2, "fax{n:05d}"),
]

FOLDERS = 2000
GEN1 = 80000
DELETE1 = 30000
GEN2 = 50000
DELETE2 = 50000


class Plan:
    def __init__(self, scale):
        self.rng = random.Random(20261208)
        self.scale = scale
        self.pool = self.rng.randbytes(1 << 20)
        self.samples = {}
        for ext, sample, _, _ in KINDS:
            if sample:
                with open(os.path.join(SAMPLES, sample), "rb") as f:
                    self.samples[ext] = f.read()
        self.folders = self.make_folders(max(1, FOLDERS * scale // 100))
        # Folder sizes: a few large, most small (Pareto weights).
        self.folder_weights = [self.rng.paretovariate(1.2) for _ in self.folders]
        self.counter = 0

    def make_folders(self, count):
        tops = ["Pictures", "Music", "Videos", "Documents", "Downloads", "Desktop", "Camera"]
        folders = []
        while len(folders) < count:
            top = self.rng.choice(tops)
            depth = self.rng.choice((1, 2, 2, 3))
            parts = [top] + [f"{self.rng.choice(('Trip', 'Album', 'Work', 'Misc', 'Year'))} "
                             f"{len(folders):04d}"]
            for d in range(2, depth):
                parts.append(f"part {d}")
            folders.append("/".join(parts))
        return folders

    def new_files(self, count):
        files = []
        folders = self.rng.choices(range(len(self.folders)), weights=self.folder_weights, k=count)
        kinds = self.rng.choices(KINDS, weights=[k[2] for k in KINDS], k=count)
        for folder, kind in zip(folders, kinds):
            self.counter += 1
            ext, _, _, pattern = kind
            name = pattern.format(n=self.counter) + "." + ext
            if self.rng.random() < 1 / 12:
                size = self.rng.randrange(100, 600)
            else:
                size = int(1024 * 48 ** self.rng.random())
            files.append((self.folders[folder] + "/" + name, ext, size))
        return files

    def content(self, ext, size):
        if ext == "txt":
            words = b"the quick brown fox jumps over a lazy dog while notes pile up "
            return (words * (size // len(words) + 1))[:size]
        head = self.samples[ext][:size]
        rest = size - len(head)
        at = self.rng.randrange(0, len(self.pool) - rest) if rest < len(self.pool) else 0
        return head + (self.pool[at:at + rest] if rest < len(self.pool) else bytes(rest))

    def history(self):
        """The four steps: (writes, deletes, writes, deletes), as lists of paths/files."""
        s = self.scale
        gen1 = self.new_files(GEN1 * s // 100)
        live = [f[0] for f in gen1]
        self.rng.shuffle(live)
        delete1 = live[:DELETE1 * s // 100]
        live = live[DELETE1 * s // 100:]
        gen2 = self.new_files(GEN2 * s // 100)
        live += [f[0] for f in gen2]
        self.rng.shuffle(live)
        delete2 = live[:DELETE2 * s // 100]
        return gen1, delete1, gen2, delete2


def write_tree(plan, root, files):
    made = set()
    for path, ext, size in files:
        folder = os.path.join(root, os.path.dirname(path))
        if folder not in made:
            os.makedirs(folder, exist_ok=True)
            made.add(folder)
        with open(os.path.join(root, path), "wb") as f:
            f.write(plan.content(ext, size))


def live_history(plan, mnt):
    gen1, delete1, gen2, delete2 = plan.history()
    write_tree(plan, mnt, gen1)
    for path in delete1:
        os.unlink(os.path.join(mnt, path))
    write_tree(plan, mnt, gen2)
    for path in delete2:
        os.unlink(os.path.join(mnt, path))


def make_ntfs(plan, out):
    part = out + ".part"
    if os.path.exists(part):
        os.remove(part)
    with open(part, "wb") as f:
        f.truncate(4 << 30)
    subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", "-L", "USER", part], check=True,
                   stderr=subprocess.DEVNULL)
    mnt = tempfile.mkdtemp()
    subprocess.run(["ntfs-3g", "-o", "noatime", part, mnt], check=True)
    try:
        live_history(plan, mnt)
    finally:
        subprocess.run(["sync"])
        subprocess.run(["umount", mnt], check=True)
        os.rmdir(mnt)
    os.replace(part, out)


def make_exfat(plan, out):
    part = out + ".part"
    if os.path.exists(part):
        os.remove(part)
    with open(part, "wb") as f:
        f.truncate(4 << 30)
    subprocess.run(["mkfs.exfat", "-c", "4K", "-L", "USER", part], check=True,
                   stdout=subprocess.DEVNULL)
    # exfat-fuse needs a block device.
    loop = subprocess.run(["losetup", "--find", "--show", part], check=True, capture_output=True,
                          text=True).stdout.strip()
    mnt = tempfile.mkdtemp()
    try:
        subprocess.run(["mount.exfat-fuse", loop, mnt], check=True)
        try:
            live_history(plan, mnt)
        finally:
            subprocess.run(["sync"])
            subprocess.run(["umount", mnt], check=True)
    finally:
        subprocess.run(["losetup", "-d", loop], check=True)
        os.rmdir(mnt)
    os.replace(part, out)


def make_fat(plan, out):
    part = out + ".part"
    if os.path.exists(part):
        os.remove(part)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    subprocess.run(["mkfs.vfat", "-C", "-F", "32", "-s", "8", "-n", "USER", part,
                    str(4 << 20)], check=True, stdout=subprocess.DEVNULL)
    stage = tempfile.mkdtemp(dir=os.path.dirname(os.path.abspath(out)))
    try:
        gen1, delete1, gen2, delete2 = plan.history()

        def copy_in(files):
            shutil.rmtree(stage)
            os.mkdir(stage)
            write_tree(plan, stage, files)
            tops = [os.path.join(stage, t) for t in sorted(os.listdir(stage))]
            subprocess.run(["mcopy", "-s", "-i", part] + tops + ["::/"], check=True, env=env,
                           stdin=subprocess.DEVNULL)

        def delete(paths):
            for i in range(0, len(paths), 400):
                subprocess.run(["mdel", "-i", part] + ["::/" + p for p in paths[i:i + 400]],
                               check=True, env=env)

        copy_in(gen1)
        delete(delete1)
        copy_in(gen2)
        delete(delete2)
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    os.replace(part, out)


def main():
    makers = {"ntfs": make_ntfs, "fat": make_fat, "exfat": make_exfat}
    if len(sys.argv) < 3 or sys.argv[1] not in makers:
        sys.exit(__doc__)
    scale = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    makers[sys.argv[1]](Plan(scale), sys.argv[2])


if __name__ == "__main__":
    main()
