#!/usr/bin/env bash
# Exact recall of `keltra recover --carve-only` and of PhotoRec, in the same run on the same
# mixed image. The image holds COPIES (3) of every sample of tests/data/signatures,
# tests/data/photos, tests/data/carving and tests/data/formats, each at a sector boundary in
# shuffled order, the gaps between them of random bytes, zeros or none (back to back), the slack
# after each file zeroed as a file system leaves it. Besides the whole files it holds, per sample, one copy cut
# short (overwritten by the next file) and, for samples of 8 sectors or more, one copy split in
# two with foreign bytes between the halves: neither can come back whole by carving, they show
# whether a carver marks what it recovers of them.
# Per format of the samples: whole files placed, those recovered byte-exact by each carver; per
# extension of the outputs: files that equal no placed file (and, for keltra, how many of those
# it marked damaged).
set -euo pipefail
usage="usage: carve_recall.sh KELTRA WORKDIR [COPIES] [SEED]"
keltra=${1:?$usage}
work=${2:?$usage}
copies=${3:-3}
seed=${4:-2026}
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../tests/data"
command -v photorec > /dev/null || { echo "photorec is missing (apt-get install testdisk)" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
export XDG_DATA_HOME="$work/xdg"

python3 - "$work" "$copies" "$seed" "$data/signatures" "$data/photos" "$data/carving" \
    "$data/formats" <<'PY'
import hashlib, json, os, random, sys
work, copies, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
samples = []
for folder in sys.argv[4:]:
    for name in sorted(os.listdir(folder)):
        if not name.endswith(('.sh', '.py')):
            samples.append((name, open(os.path.join(folder, name), 'rb').read()))
pieces = []  # (kind, name, bytes)
for name, data in samples:
    for _ in range(copies):
        pieces.append(('whole', name, [data]))
    pieces.append(('cut', name, [data[:max(16, len(data) * 3 // 5)]]))
    if len(data) >= 8 * 512:
        half = (len(data) // 2) // 512 * 512
        pieces.append(('split', name, [data[:half], data[half:]]))
rng.shuffle(pieces)
image = bytearray(rng.randbytes(16 * 512))
placed = []
def pad():
    image.extend(bytes(-len(image) % 512))
def gap():
    kind = rng.choice(('random', 'zeros', 'none'))
    if kind != 'none':
        n = rng.randint(1, 8) * 512
        image.extend(rng.randbytes(n) if kind == 'random' else bytes(n))
for kind, name, parts in pieces:
    gap()
    start = len(image) // 512
    for i, part in enumerate(parts):
        if i:
            image.extend(rng.randbytes(rng.randint(2, 6) * 512))
        image.extend(part)
        pad()
    placed.append({'kind': kind, 'name': name, 'sector': start,
                   'sha': hashlib.sha256(b''.join(parts) if kind == 'whole' else b'').hexdigest()})
image.extend(rng.randbytes(16 * 512))
open(os.path.join(work, 'mixed.img'), 'wb').write(image)
whole = {hashlib.sha256(d).hexdigest(): n for n, d in samples}
json.dump({'placed': placed, 'whole': whole}, open(os.path.join(work, 'manifest.json'), 'w'))
print(f"image: {len(image) // 1024} KiB, {len(placed)} placements of {len(samples)} samples")
PY

now() { date +%s.%N; }
start=$(now)
"$keltra" scan "$work/mixed.img" --carve-only --json > "$work/keltra.json"
"$keltra" recover "$work/mixed.img" --carve-only --to "$work/keltra" > /dev/null 2>&1 || true
t_keltra=$(python3 -c "print($(now) - $start)")
start=$(now)
(cd "$work" && photorec /log /d "$work/recup" /cmd "$work/mixed.img" \
    partition_none,fileopt,everything,enable,wholespace,search > /dev/null 2>&1) || true
t_photorec=$(python3 -c "print($(now) - $start)")

python3 - "$work" "$t_keltra" "$t_photorec" <<'PY'
import collections, glob, hashlib, json, os, re, sys
work, t_keltra, t_photorec = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
manifest = json.load(open(os.path.join(work, 'manifest.json')))
whole_shas = set(manifest['whole'])

def outputs(pattern, skip=()):
    files = {}
    for path in glob.glob(pattern, recursive=True):
        if os.path.isfile(path) and os.path.basename(path) not in skip:
            files[path] = hashlib.sha256(open(path, 'rb').read()).hexdigest()
    return files

keltra = outputs(f"{work}/keltra/**/*")
photorec = outputs(f"{work}/recup*/*", skip=('report.xml',))
damaged = set()
for line in open(os.path.join(work, 'keltra.json')):
    found = json.loads(line)
    if not found['intact']:
        damaged.add(found['name'])

def ext_of(name):
    return name.rsplit('.', 1)[-1].lower() if '.' in name else '-'

formats = collections.defaultdict(lambda: [0, 0, 0])
k_shas, p_shas = collections.Counter(keltra.values()), collections.Counter(photorec.values())
wanted = collections.Counter()
for p in manifest['placed']:
    if p['kind'] == 'whole':
        wanted[p['sha']] += 1
        formats[ext_of(p['name'])][0] += 1
for sha, n in wanted.items():
    ext = ext_of(manifest['whole'][sha])
    formats[ext][1] += min(n, k_shas[sha])
    formats[ext][2] += min(n, p_shas[sha])

stray = collections.defaultdict(lambda: [0, 0, 0])  # keltra, of which damaged, photorec
for path, sha in keltra.items():
    if sha not in whole_shas:
        row = stray[ext_of(path)]
        row[0] += 1
        row[1] += os.path.basename(path) in damaged
for path, sha in photorec.items():
    if sha not in whole_shas:
        stray[ext_of(path)][2] += 1

print(f"\nwhole files recovered byte-exact, per format of the sample")
print(f"{'format':8} {'placed':>6} {'keltra':>7} {'photorec':>8}")
for ext in sorted(formats):
    n, k, p = formats[ext]
    print(f"{ext:8} {n:6} {k:7} {p:8}")
total = sum(r[0] for r in formats.values())
k_all = sum(r[1] for r in formats.values())
p_all = sum(r[2] for r in formats.values())
print(f"{'all':8} {total:6} {k_all:7} {p_all:8}   exact recall: keltra {k_all / total:.1%}, "
      f"photorec {p_all / total:.1%}")
print(f"\noutput files that equal no placed file, per extension of the output")
print(f"{'ext':8} {'keltra':>7} {'damaged':>8} {'photorec':>8}")
for ext in sorted(stray):
    k, d, p = stray[ext]
    print(f"{ext:8} {k:7} {d:8} {p:8}")
ks, ds, ps = (sum(r[i] for r in stray.values()) for i in range(3))
print(f"{'all':8} {ks:7} {ds:8} {ps:8}")
print(f"\noutput files in all: keltra {len(keltra)} ({len(damaged)} marked damaged), "
      f"photorec {len(photorec)}")
print(f"time: keltra {t_keltra:.2f} s (scan, then scan and recovery), photorec {t_photorec:.2f} s")
PY
