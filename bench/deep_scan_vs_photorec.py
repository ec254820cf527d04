#!/usr/bin/env python3
"""The deep scan against cat and PhotoRec on one image, in the same run.

The image holds random bytes with real files planted at sector boundaries (their places are
known); cat reads it from the page cache, `keltra scan --deep --json` carves it, and PhotoRec
(`photorec /cmd IMAGE partition_none,fileopt,everything,enable,wholespace,search`) carves it.
Reported: seconds and MiB/s of each, the ratios, peak resident memory, and recall: how many
planted files each tool found starting at the right sector, and how many of them whole.

usage: deep_scan_vs_photorec.py KELTRA WORKDIR [--gib N] [--files N] [--keep]
"""
import argparse
import json
import os
import random
import re
import resource
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data")
SECTOR = 512

# Real files of formats that both tools carve.
SAMPLES = [
    "photos/beach.jpg", "photos/city.jpg", "photos/portrait.jpg", "photos/sunset.jpg",
    "photos/logo.png", "signatures/exif.jpg", "signatures/jfif.jpg", "signatures/sample.png",
    "signatures/sample.gif", "signatures/sample.bmp", "signatures/sample.pdf",
    "signatures/sample.zip", "signatures/sample.mp3", "signatures/sample.doc",
    "signatures/sample.avi", "signatures/sample.mp4", "signatures/sample.flv",
]


def make_image(path, gib, count, seed=2026):
    """Random bytes with `count` sample files at random free sector boundaries; returns the
    planted files as (sector, sample path, bytes)."""
    rng = random.Random(seed)
    size = gib << 30
    samples = [os.path.join(DATA, s) for s in SAMPLES if os.path.exists(os.path.join(DATA, s))]
    contents = {s: open(s, "rb").read() for s in samples}
    planted = []
    taken = []
    while len(planted) < count:
        sample = samples[len(planted) % len(samples)]
        data = contents[sample]
        sectors = (len(data) + SECTOR - 1) // SECTOR + 8  # room before the next one
        start = rng.randrange(0, size // SECTOR - sectors)
        if any(start < e and s < start + sectors for s, e in taken):
            continue
        taken.append((start, start + sectors))
        planted.append((start, sample, data))
    planted.sort()
    with open(path, "wb") as f:
        chunk = 64 << 20
        for _ in range(size // chunk):
            f.write(os.urandom(chunk))
        for start, _, data in planted:
            f.seek(start * SECTOR)
            f.write(data)
    return planted


def timed(command, **kwargs):
    """Runs a command; returns (seconds, peak RSS in MiB, completed process)."""
    start = time.monotonic()
    proc = subprocess.Popen(command, **kwargs)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return seconds, usage.ru_maxrss / 1024, proc


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("keltra")
    parser.add_argument("workdir")
    parser.add_argument("--gib", type=int, default=2)
    parser.add_argument("--files", type=int, default=400)
    parser.add_argument("--keep", action="store_true", help="keep the image for the next run")
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
    image = os.path.join(args.workdir, f"random_{args.gib}g.img")
    manifest = image + ".json"
    if os.path.exists(image) and os.path.exists(manifest):
        planted = [(s, p, open(p, "rb").read()) for s, p in json.load(open(manifest))]
    else:
        planted = make_image(image, args.gib, args.files)
        json.dump([(s, p) for s, p, _ in planted], open(manifest, "w"))
    mib = os.path.getsize(image) / (1 << 20)
    by_sector = {s: (p, d) for s, p, d in planted}

    # cat, from the page cache (read once before).
    subprocess.run(["cat", image], stdout=subprocess.DEVNULL, check=True)
    cat_s, cat_rss, _ = timed(["cat", image], stdout=subprocess.DEVNULL)

    # keltra, with a ScanLog of its own.
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(args.workdir, "xdg"))
    shutil.rmtree(env["XDG_DATA_HOME"], ignore_errors=True)
    listing = os.path.join(args.workdir, "keltra.json")
    with open(listing, "w") as out:
        k_s, k_rss, k = timed([args.keltra, "scan", image, "--deep", "--json"], stdout=out,
                              stderr=subprocess.DEVNULL, env=env)
    k_found = k_whole = k_files = 0
    for line in open(listing):
        item = json.loads(line)
        if item["is_folder"]:
            continue
        k_files += 1
        if item["location"] in by_sector:
            k_found += 1
            if item["size"] >= len(by_sector[item["location"]][1]):
                k_whole += 1

    # PhotoRec.
    recup = os.path.join(args.workdir, "photorec")
    shutil.rmtree(recup, ignore_errors=True)
    os.makedirs(recup)
    p_s, p_rss, p = timed(["photorec", "/log", "/d", os.path.join(recup, "recup_dir"), "/cmd",
                           image, "partition_none,fileopt,everything,enable,wholespace,search"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=recup)
    p_found = p_whole = p_files = 0
    for folder, _, names in os.walk(recup):
        for name in names:
            m = re.match(r"f(\d+)(?:_[^.]*)?\.", name)
            if not m:
                continue
            p_files += 1
            sector = int(m.group(1))
            if sector in by_sector:
                p_found += 1
                data = by_sector[sector][1]
                with open(os.path.join(folder, name), "rb") as f:
                    if f.read(len(data)) == data:
                        p_whole += 1

    n = len(planted)
    print(f"image: {mib:.0f} MiB of random bytes, {n} planted files ({len(SAMPLES)} kinds)")
    print(f"cat:      {cat_s:7.2f} s  {mib / cat_s:8.0f} MiB/s  peak RSS {cat_rss:6.1f} MiB")
    print(f"keltra:   {k_s:7.2f} s  {mib / k_s:8.0f} MiB/s  peak RSS {k_rss:6.1f} MiB  "
          f"exit {k.returncode}  files listed {k_files}")
    print(f"photorec: {p_s:7.2f} s  {mib / p_s:8.0f} MiB/s  peak RSS {p_rss:6.1f} MiB  "
          f"exit {p.returncode}  files written {p_files}")
    print(f"keltra / cat speed:      {cat_s / k_s:.2f}")
    print(f"keltra / photorec speed: {p_s / k_s:.2f}")
    print(f"recall keltra:   {k_found}/{n} at the right sector, {k_whole}/{n} whole")
    print(f"recall photorec: {p_found}/{n} at the right sector, {p_whole}/{n} whole")
    if not args.keep:
        os.remove(image)
        os.remove(manifest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
