#!/usr/bin/env bash
# The quick exFAT scan (`keltra scan --json`) against `fls -rd` on a 100,000-entry exFAT volume
# in the same run: wall and processor time (medians of three, page cache warm), read calls.
# The volume is made once with make_exfat_bench_image.sh (it takes minutes) and kept.
# usage: exfat_scan_vs_fls.sh KELTRA IMAGE WORK_DIR
# Fails when the quick scan does not take less processor time than fls.
set -euo pipefail
keltra=${1:?usage: exfat_scan_vs_fls.sh KELTRA IMAGE WORK_DIR}
image=${2:?}
work=${3:?}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
failed=0
source "$here/scan_timing.sh"
[ -f "$image" ] || bash "$here/make_exfat_bench_image.sh" "$image"

echo "== quick exFAT scan against fls -rd (medians of three, page cache warm)"
compare "exFAT, 100,000 entries" "$image" 1
exit $failed
