#!/usr/bin/env bash
# Recall of `keltra recover --carve-only` and of PhotoRec on the corpus image: every sample of
# tests/data/FOLDER (signatures by default; formats for today's phone and camera files) in name
# order, each at a sector boundary, the gaps before them
# alternating between random bytes and zeros of 1 to 5 sectors (the layout of the carving
# tests). Per format: whether a carved file starts at the sample's first sector, whether its
# bytes equal the sample (sha256), or hold it as a prefix; and both carvers' times.
set -euo pipefail
keltra=${1:?usage: carve_corpus_vs_photorec.sh KELTRA WORKDIR [FOLDER]}
work=${2:?usage: carve_corpus_vs_photorec.sh KELTRA WORKDIR [FOLDER]}
folder=${3:-signatures}
here=$(cd "$(dirname "$0")" && pwd)
command -v photorec > /dev/null || { echo "photorec is missing (apt-get install testdisk)" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
export XDG_DATA_HOME="$work/xdg"

python3 - "$here/../tests/data/$folder" "$work/corpus.img" "$work/manifest.txt" <<'EOF'
import os, random, sys
folder, image, manifest = sys.argv[1:4]
names = sorted(n for n in os.listdir(folder) if not n.endswith(('.sh', '.py')))
rng = random.Random(12345)
out = bytearray(8 * 512)
with open(manifest, 'w') as m:
    for i, name in enumerate(names):
        gap = (1 + (i * 7) % 5) * 512
        out += rng.randbytes(gap) if i % 2 == 0 else bytes(gap)
        m.write(f"{len(out) // 512} {name}\n")
        out += open(os.path.join(folder, name), 'rb').read()
        out += bytes(-len(out) % 512)
out += rng.randbytes(8 * 512)
open(image, 'wb').write(out)
EOF

now() { date +%s.%N; }
start=$(now)
"$keltra" recover "$work/corpus.img" --carve-only --to "$work/keltra" > /dev/null 2>&1
t_keltra=$(python3 -c "print($(now) - $start)")
start=$(now)
(cd "$work" && photorec /log /d "$work/recup" /cmd "$work/corpus.img" \
    partition_none,fileopt,everything,enable,wholespace,search > /dev/null 2>&1) || true
t_photorec=$(python3 -c "print($(now) - $start)")

python3 - "$here/../tests/data/$folder" "$work" "$t_keltra" "$t_photorec" <<'EOF'
import glob, hashlib, os, re, sys
folder, work = sys.argv[1:3]
t_keltra, t_photorec = float(sys.argv[3]), float(sys.argv[4])
placed = [(int(s), n) for s, n in (l.split(' ', 1) for l in open(f"{work}/manifest.txt").read().splitlines())]

def by_start(paths, pattern):
    found = {}
    for path in paths:
        m = re.match(pattern, os.path.basename(path))
        if m:
            found[int(m.group(1))] = path
    return found

keltra = by_start(glob.glob(f"{work}/keltra/*/*"), r'(\d+)\.')
photorec = by_start(glob.glob(f"{work}/recup*/*"), r'[a-z](\d+)')

# Names that mean the same format.
SAME = [{'mpg', 'mpeg', 'vob'}, {'jpg', 'jpeg'}, {'tif', 'tiff'}, {'aiff', 'aif'}]

def same_extension(sample, path):
    want = sample.rsplit('.', 1)[-1].lower()
    got = path.rsplit('.', 1)[-1].lower()
    return want == got or any(want in s and got in s for s in SAME)

def verdict(found, sector, name, original):
    path = found.get(sector)
    if path is None:
        return 'missed', '-'
    data = open(path, 'rb').read()
    named = 'yes' if same_extension(name, path) else path.rsplit('.', 1)[-1]
    if hashlib.sha256(data).digest() == hashlib.sha256(original).digest():
        return 'exact', named
    return ('prefix' if data.startswith(original) else 'found'), named

rows = []
for sector, name in placed:
    original = open(os.path.join(folder, name), 'rb').read()
    rows.append((name, *verdict(keltra, sector, name, original),
                 *verdict(photorec, sector, name, original)))
print(f"{'sample':16} {'keltra':8} {'named':6} {'photorec':8} {'named':6}")
for name, k, kn, p, pn in rows:
    print(f"{name:16} {k:8} {kn:6} {p:8} {pn:6}")
for column, who in ((1, 'keltra'), (3, 'photorec')):
    counts = {v: sum(1 for r in rows if r[column] == v) for v in ('exact', 'prefix', 'found', 'missed')}
    named = sum(1 for r in rows if r[column + 1] == 'yes')
    print(f"{who}: {len(rows) - counts['missed']}/{len(rows)} found; exact {counts['exact']}, "
          f"original a prefix {counts['prefix']}, other bytes {counts['found']}; "
          f"named right {named}; found exact and named right "
          f"{sum(1 for r in rows if r[column] == 'exact' and r[column + 1] == 'yes')}")
print(f"time: keltra {t_keltra:.2f} s (scan and recovery), photorec {t_photorec:.2f} s")
EOF
