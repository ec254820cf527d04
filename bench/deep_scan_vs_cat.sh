#!/usr/bin/env bash
# The deep scan (`keltra scan --deep --json`) of an image against `cat` reading the same image,
# in the same run: whole-process wall and processor time (median of ROUNDS runs, the order
# turned each round, the spread printed too: the machine may be busy) and peak resident memory.
# With COLD=1 the image's pages are dropped from the page cache before every run
# (posix_fadvise DONTNEED on the image alone, so other work on the machine keeps its cache), so
# that both read from the disk. With BASELINE (an earlier build of keltra) given, it is measured alongside.
# usage: deep_scan_vs_cat.sh KELTRA WORK_DIR IMAGE... (env: BASELINE, ROUNDS=3, COLD)
set -euo pipefail
usage="usage: deep_scan_vs_cat.sh KELTRA WORK_DIR IMAGE..."
keltra=${1:?$usage}
work=${2:?$usage}
shift 2
[ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
rounds=${ROUNDS:-3}
mkdir -p "$work"

run_timed() {  # NAME COMMAND...: appends "wall cpu peak-KiB" of one run to $work/NAME.runs
    local name=$1
    shift
    if [ -n "${COLD:-}" ]; then
        python3 -c 'import os, sys; fd = os.open(sys.argv[1], os.O_RDONLY)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)' "$image"
    fi
    rm -rf "$work/xdg"
    XDG_DATA_HOME="$work/xdg" XDG_CONFIG_HOME="$work/xdg" \
        /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" > /dev/null 2> /dev/null || true
    awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$work/time.txt" >> "$work/$name.runs"
}

for image in "$@"; do
    [ -n "${COLD:-}" ] || cat "$image" > /dev/null
    rm -f "$work"/*.runs
    commands=(keltra cat)
    [ -n "${BASELINE:-}" ] && commands+=(baseline)
    for round in $(seq "$rounds"); do
        for i in "${!commands[@]}"; do
            c=${commands[$(((i + round) % ${#commands[@]}))]}
            case $c in
            keltra) run_timed keltra "$keltra" scan --deep --json "$image" ;;
            baseline) run_timed baseline "$BASELINE" scan --deep --json "$image" ;;
            cat) run_timed cat cat "$image" ;;
            esac
        done
    done
    python3 - "$work" "$(basename "$image")" "$(stat -c %s "$image")" "${COLD:+cold}" \
        "${commands[@]}" <<'PY'
import statistics, sys
work, name, size, cache = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] or "warm"
commands = sys.argv[5:]
runs = {}
for c in commands:
    rows = [line.split() for line in open(f"{work}/{c}.runs")]
    runs[c] = ([float(r[0]) for r in rows], [float(r[1]) for r in rows], max(int(r[2]) for r in rows))
print(f"== {name}: {size / 2**30:.1f} GiB, page cache {cache}")
for c in commands:
    w, p, rss = runs[c]
    print(f"  {c:9} wall {statistics.median(w):7.2f} s ({min(w):.2f}-{max(w):.2f}), processor "
          f"{statistics.median(p):7.2f} s ({min(p):.2f}-{max(p):.2f}), peak {rss / 1024:.1f} MiB, "
          f"{size / 2**20 / max(statistics.median(w), 1e-3):.0f} MiB/s")
for other in [c for c in commands if c != "keltra"]:
    print(f"  keltra / {other}: wall {statistics.median(runs['keltra'][0]) / max(statistics.median(runs[other][0]), 1e-3):.2f} x")
PY
done
rm -rf "$work"/*.runs "$work/time.txt" "$work/xdg"
