#!/usr/bin/env bash
# The quick scan (`keltra scan --json`) of volumes shaped like users' (make_user_volume.py)
# against reading their metadata with `cat` (metadata_of_volume.py) and against `fls -rd`, in
# the same run: whole-process wall and processor time (median of ROUNDS runs, page cache warm,
# the order of the commands turned each round; the spread is printed too, the machine may be
# busy), read calls and bytes read (strace), peak resident memory. With BASELINE (an earlier
# build of keltra) given, it is measured alongside.
# usage: quick_scan_vs_metadata.sh KELTRA WORK_DIR IMAGE... (env: BASELINE, ROUNDS=5)
set -euo pipefail
usage="usage: quick_scan_vs_metadata.sh KELTRA WORK_DIR IMAGE..."
keltra=${1:?$usage}
work=${2:?$usage}
shift 2
[ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
rounds=${ROUNDS:-5}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"

# run_timed NAME COMMAND...: appends "wall cpu" of one run to $work/NAME.runs.
run_timed() {
    local name=$1
    shift
    /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" > /dev/null 2> /dev/null
    awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$work/time.txt" >> "$work/$name.runs"
}

# reads NAME COMMAND...: "calls bytes" of the read system calls the command makes.
reads() {
    local name=$1
    shift
    strace -f -qq -e trace=read,pread64,readv,preadv -o "$work/$name.strace" "$@" > /dev/null \
        2> /dev/null || true
    awk -F'= ' '/= [0-9]+$/ { n++; b += $NF } END { printf "%d %.0f\n", n, b }' \
        "$work/$name.strace"
    rm -f "$work/$name.strace"
}

for image in "$@"; do
    name=$(basename "$image")
    python3 "$here/metadata_of_volume.py" "$image" "$work/metadata.bin"
    cat "$image" "$work/metadata.bin" > /dev/null
    rm -f "$work"/*.runs
    commands=(keltra fls cat)
    [ -n "${BASELINE:-}" ] && commands+=(baseline)
    for round in $(seq "$rounds"); do
        for i in "${!commands[@]}"; do
            c=${commands[$(((i + round) % ${#commands[@]}))]}
            case $c in
            keltra) run_timed keltra "$keltra" scan --json "$image" ;;
            baseline) run_timed baseline "$BASELINE" scan --json "$image" ;;
            fls) run_timed fls fls -rd "$image" ;;
            cat) run_timed cat cat "$work/metadata.bin" ;;
            esac
        done
    done
    listed=$("$keltra" scan --json "$image" 2> /dev/null | wc -l)
    kr=$(reads keltra "$keltra" scan --json "$image")
    fr=$(reads fls fls -rd "$image")
    br="0 0"
    [ -n "${BASELINE:-}" ] && br=$(reads baseline "$BASELINE" scan --json "$image")
    python3 - "$work" "$name" "$listed" "$(stat -c %s "$work/metadata.bin")" "$kr" "$fr" \
        "$br" "${commands[@]}" <<'PY'
import statistics, sys
work, name, listed, meta = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
reads = {"keltra": sys.argv[5], "fls": sys.argv[6], "baseline": sys.argv[7]}
commands = sys.argv[8:]
runs = {}
for c in commands:
    rows = [line.split() for line in open(f"{work}/{c}.runs")]
    runs[c] = {"wall": [float(r[0]) for r in rows], "cpu": [float(r[1]) for r in rows],
               "rss": max(int(r[2]) for r in rows)}
def med(c, k):
    return statistics.median(runs[c][k])
print(f"== {name}: {listed} items listed; metadata {meta / 2**20:.1f} MiB")
for c in commands:
    w, p = runs[c]["wall"], runs[c]["cpu"]
    line = (f"  {c:9} wall {med(c, 'wall'):6.3f} s ({min(w):.3f}-{max(w):.3f}), processor "
            f"{med(c, 'cpu'):6.3f} s ({min(p):.3f}-{max(p):.3f}), peak {runs[c]['rss'] / 1024:.1f} MiB")
    if c in reads:
        calls, size = (int(v) for v in reads[c].split())
        line += f", {calls} read calls, {size / 2**20:.1f} MiB read"
    print(line)
k = "keltra"
for other in [c for c in commands if c != k]:
    print(f"  keltra / {other}: wall {med(k, 'wall') / max(med(other, 'wall'), 1e-3):.2f} x, "
          f"processor {med(k, 'cpu') / max(med(other, 'cpu'), 1e-3):.2f} x")
PY
done
rm -f "$work/metadata.bin" "$work"/*.runs "$work/time.txt"
