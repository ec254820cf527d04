# Shared by the quick-scan benchmarks (sourced): timing, read calls and peak memory of a
# command, and the comparison of `keltra scan --json` with `fls -rd` on one volume. The caller
# sets `keltra` and `work`; a failed comparison sets `failed` to 1.

# Median wall time and median processor time (user + system) in seconds of three runs of a
# command (output thrown away), as "wall,cpu".
median_seconds() {
    python3 - "$@" <<'PY'
import resource, subprocess, sys, time
walls, cpus = [], []
for _ in range(3):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    walls.append(time.perf_counter() - start)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpus.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
print(f"{sorted(walls)[1]:.3f},{sorted(cpus)[1]:.3f}")
PY
}

# Read calls (read, pread64, readv, preadv) a command makes, from strace -c.
read_calls() {
    strace -f -c -e trace=read,pread64,readv,preadv -o "$work/strace.txt" "$@" >/dev/null 2>&1
    awk '$NF ~ /^(read|pread64|readv|preadv)$/ { n += $4 } END { print n + 0 }' "$work/strace.txt"
}

peak_kib() {
    /usr/bin/time -f %M -o "$work/time.txt" "$@" >/dev/null 2>&1
    tail -n 1 "$work/time.txt"
}

compare() {  # name image required-ratio
    local name=$1 image=$2 ratio=$3
    cat "$image" >/dev/null
    local k f kr fr
    k=$(median_seconds "$keltra" scan --json "$image")
    f=$(median_seconds fls -rd "$image")
    kr=$(read_calls "$keltra" scan --json "$image")
    fr=$(read_calls fls -rd "$image")
    local entries br=0
    entries=$("$keltra" scan --json "$image" 2>/dev/null | wc -l)
    [ -n "${KELTRA_BASELINE:-}" ] && br=$(read_calls "$KELTRA_BASELINE" scan --json "$image")
    python3 - "$name" "$k" "$f" "$kr" "$fr" "$ratio" "$entries" "$br" <<'PY' || failed=1
import sys
name = sys.argv[1]
(k, kc), (f, fc) = ([float(v) for v in a.split(",")] for a in sys.argv[2:4])
kr, fr, ratio, entries, br = int(sys.argv[4]), int(sys.argv[5]), float(sys.argv[6]), \
    int(sys.argv[7]), int(sys.argv[8])
# Compared by processor time, which a machine busy with other work does not distort.
speed = fc / kc if kc > 0 else float("inf")
print(f"{name}: keltra scan --json {k * 1000:.0f} ms ({kc * 1000:.0f} ms processor; {entries} "
      f"items, {kr} read calls), fls -rd {f * 1000:.0f} ms ({fc * 1000:.0f} ms processor; {fr} "
      f"read calls): {speed:.1f} x in processor time (needs {ratio:.0f} x), {f / k:.1f} x in "
      f"wall time")
ok = speed >= ratio
if br:
    print(f"  read calls of the baseline build: {br} ({br / max(kr, 1):.0f} x as many)")
    ok = ok and kr * 100 <= br
sys.exit(0 if ok else 1)
PY
}
