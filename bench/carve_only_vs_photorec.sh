#!/usr/bin/env bash
# Carving throughput and recall of `keltra scan --carve-only` against `cat` and PhotoRec, in the
# same run on the same image: MIB MiB of random bytes (2048 by default) with the sample files of
# tests/data/signatures and tests/data/photos written at random sector boundaries (COPIES of
# each). The image is read into the page cache first, so that all three read from memory.
# Each is run ROUNDS times (3), alternating. Prints the times, throughputs and ratios, the recall of both carvers (a sample counts as
# found when a carved file starts at its first sector) and the peak resident memory of each.
set -euo pipefail
keltra=${1:?usage: carve_only_vs_photorec.sh KELTRA WORKDIR [MIB] [COPIES] [ROUNDS]}
work=${2:?usage: carve_only_vs_photorec.sh KELTRA WORKDIR [MIB] [COPIES] [ROUNDS]}
mib=${3:-2048}
copies=${4:-20}
rounds=${5:-3}
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../tests/data"
command -v photorec > /dev/null || { echo "photorec is missing (apt-get install testdisk)" >&2; exit 1; }
mkdir -p "$work"
image="$work/carve_bench.img"
manifest="$work/manifest.txt"

echo "== making a $mib MiB image of random bytes with $copies copies of each sample"
head -c $((mib * 1024 * 1024)) /dev/urandom > "$image"
python3 - "$image" "$manifest" "$copies" "$data/signatures" "$data/photos" <<'EOF'
import os, random, sys
image, manifest, copies = sys.argv[1], sys.argv[2], int(sys.argv[3])
samples = []
for folder in sys.argv[4:]:
    for name in sorted(os.listdir(folder)):
        if not name.endswith('.sh'):
            samples.append(os.path.join(folder, name))
size = os.path.getsize(image)
rng = random.Random(2026)
taken = []  # (first sector, last sector + 1), kept apart by at least 64 sectors
with open(image, 'r+b') as out, open(manifest, 'w') as m:
    for copy in range(copies):
        for path in samples:
            data = open(path, 'rb').read()
            sectors = (len(data) + 511) // 512
            while True:
                first = rng.randrange(64, size // 512 - sectors - 64)
                if all(first + sectors + 64 <= a or b + 64 <= first for a, b in taken):
                    break
            taken.append((first, first + sectors))
            out.seek(first * 512)
            # The slack after the sample is zeroed, as a file system leaves it.
            out.write(data + bytes(sectors * 512 - len(data)))
            m.write(f"{first} {os.path.basename(path)}\n")
EOF
cat "$image" > /dev/null

# Each run: wall seconds, CPU seconds and peak resident KiB into $work/NAME.time.
timed() { /usr/bin/time -v -o "$work/$1.time" "${@:2}"; }
field() { awk -F': ' -v f="$2" '$1 ~ f { print $2 }' "$work/$1.time"; }
wall() { field "$1" 'Elapsed' | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'; }
cpu() { python3 -c "print($(field "$1" 'User time') + $(field "$1" 'System time'))"; }

run_cat() { timed cat cat "$image" > /dev/null; }
run_keltra() {
    rm -rf "$work/xdg"
    XDG_DATA_HOME="$work/xdg" timed keltra "$keltra" scan "$image" --carve-only --json \
        > "$work/keltra.json"
}
run_photorec() {
    rm -rf "$work/recup"*
    # PhotoRec writes its photorec.log into the current folder.
    (cd "$work" && timed photorec photorec /log /d "$work/recup" /cmd "$image" \
        partition_none,fileopt,everything,enable,wholespace,search > /dev/null 2>&1) || true
}
# ROUNDS rounds, the order turned each time; the best wall time of each counts (the machine may
# be shared), CPU time and memory are those of that best run.
declare -A best
for round in $(seq "$rounds"); do
    echo "== round $round"
    order=(cat keltra photorec)
    for i in 0 1 2; do
        name=${order[$(((i + round) % 3))]}
        "run_$name"
        t=$(wall "$name")
        if [ -z "${best[$name]:-}" ] || python3 -c "import sys; sys.exit(not $t < ${best[$name]})"; then
            best[$name]=$t
            cp "$work/$name.time" "$work/$name.best"
        fi
    done
done
for name in cat keltra photorec; do cp "$work/$name.best" "$work/$name.time"; done

python3 - "$work" "$manifest" "$mib" \
    "$(wall cat)" "$(wall keltra)" "$(wall photorec)" \
    "$(field cat 'Maximum resident')" "$(field keltra 'Maximum resident')" \
    "$(field photorec 'Maximum resident')" "$(cpu cat)" "$(cpu keltra)" "$(cpu photorec)" <<'EOF'
import collections, glob, json, os, re, sys
work, manifest, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
t_cat, t_keltra, t_photorec = (float(x) for x in sys.argv[4:7])
rss_cat, rss_keltra, rss_photorec = (int(x) for x in sys.argv[7:10])
c_cat, c_keltra, c_photorec = (float(x) for x in sys.argv[10:13])
placed = [(int(s), n) for s, n in (line.split(' ', 1) for line in open(manifest).read().splitlines())]

keltra_starts = set()
for line in open(os.path.join(work, 'keltra.json')):
    name = json.loads(line)['name']
    keltra_starts.add(int(name.split('.')[0]))
photorec_starts = set()
for path in glob.glob(os.path.join(work, 'recup*', '*')):
    m = re.match(r'[ft](\d+)', os.path.basename(path))
    if m:
        photorec_starts.add(int(m.group(1)))

# Formats keltra carves (the others are recognised only, never carved).
carved_ext = {'jpg', 'png', 'gif', 'bmp', 'tif', 'psd', 'ico', 'avi', 'wav', 'mp3', 'mid', 'mp2',
              'mmf', 'mp4', '3gp', 'mov', 'mkv', 'flv', 'mts', 'ts', 'mxf', 'rm', 'swf', 'wma',
              'wmv', 'm1v', 'mpg', 'doc', 'xls', 'ppt'}
by_ext = collections.defaultdict(lambda: [0, 0, 0])
for sector, name in placed:
    ext = name.rsplit('.', 1)[-1]
    row = by_ext[ext]
    row[0] += 1
    row[1] += sector in keltra_starts
    row[2] += sector in photorec_starts

def recall(rows, column):
    total = sum(r[0] for r in rows)
    return sum(r[column] for r in rows) / total if total else 0

print(f"\n{'format':8} {'placed':>6} {'keltra':>7} {'photorec':>8}")
for ext in sorted(by_ext):
    n, k, p = by_ext[ext]
    mark = '' if ext in carved_ext else '  (not a carved format)'
    print(f"{ext:8} {n:6} {k:7} {p:8}{mark}")
carvable = [by_ext[e] for e in by_ext if e in carved_ext]
print(f"\nrecall over keltra's carved formats: keltra {recall(carvable, 1):.1%}, "
      f"photorec {recall(carvable, 2):.1%}")
print(f"recall over all samples: keltra {recall(by_ext.values(), 1):.1%}, "
      f"photorec {recall(by_ext.values(), 2):.1%}")
print(f"carved files in all: keltra {len(keltra_starts)}, photorec {len(photorec_starts)}")
print(f"\n{'':10} {'seconds':>8} {'MiB/s':>8} {'CPU s':>8} {'max RSS MiB':>12}")
for name, t, c, r in (('cat', t_cat, c_cat, rss_cat), ('keltra', t_keltra, c_keltra, rss_keltra),
                      ('photorec', t_photorec, c_photorec, rss_photorec)):
    print(f"{name:10} {t:8.2f} {mib / max(t, 1e-3):8.0f} {c:8.2f} {r / 1024:12.1f}")
print(f"keltra / photorec CPU time: {c_photorec / max(c_keltra, 1e-3):.1f}x less")
print(f"\nkeltra / photorec throughput: {t_photorec / max(t_keltra, 1e-3):.1f}x; "
      f"keltra / cat: {t_cat / max(t_keltra, 1e-3):.2f}")
EOF
