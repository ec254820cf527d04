#!/usr/bin/env bash
# Two builds of keltra must find and recover the same: on every image of FIXTURE_DIR (and any
# further images named), the quick and the deep scan of each build list the same files (the
# JSON lines of `keltra scan`) and recover the same bytes (`keltra recover --keep-paths`: every
# file's path and SHA-256). For a change that should only make scans faster: run it with the
# build before the change as BASELINE.
# usage: compare_builds.sh BASELINE KELTRA FIXTURE_DIR WORK_DIR [IMAGE...]
# Prints one line per image and mode; fails when any differs.
set -euo pipefail
usage="usage: compare_builds.sh BASELINE KELTRA FIXTURE_DIR WORK_DIR [IMAGE...]"
baseline=${1:?$usage}
keltra=${2:?$usage}
fixtures=${3:?$usage}
work=${4:?$usage}
shift 4
mkdir -p "$work"

# scan_and_recover BUILD IMAGE MODE OUT: the listing into OUT.list, the recovered files'
# paths and digests into OUT.sums. Each run has a scan history of its own, so a deep scan never
# continues another.
scan_and_recover() {
    local build=$1 image=$2 mode=$3 out=$4
    local flags=()
    [ "$mode" = deep ] && flags=(--deep)
    rm -rf "$out.xdg" "$out.files"
    XDG_DATA_HOME="$out.xdg" XDG_CONFIG_HOME="$out.xdg" \
        "$build" scan "$image" "${flags[@]}" --json > "$out.list" 2>/dev/null || true
    rm -rf "$out.xdg"
    XDG_DATA_HOME="$out.xdg" XDG_CONFIG_HOME="$out.xdg" \
        "$build" recover "$image" "${flags[@]}" --keep-paths --to "$out.files" \
        > /dev/null 2>&1 || true
    if [ -d "$out.files" ]; then
        (cd "$out.files" && find . -type f -print0 | sort -z | xargs -0r sha256sum) > "$out.sums"
    else
        : > "$out.sums"
    fi
    rm -rf "$out.xdg" "$out.files"
}

failed=0
images=("$fixtures"/*.img "$@")
for image in "${images[@]}"; do
    name=$(basename "$image")
    for mode in quick deep; do
        scan_and_recover "$baseline" "$image" "$mode" "$work/before"
        scan_and_recover "$keltra" "$image" "$mode" "$work/after"
        entries=$(wc -l < "$work/after.list")
        files=$(wc -l < "$work/after.sums")
        if cmp -s "$work/before.list" "$work/after.list" &&
            cmp -s "$work/before.sums" "$work/after.sums"; then
            echo "same: $name $mode ($entries listed, $files recovered)"
        else
            echo "DIFFERENT: $name $mode"
            diff "$work/before.list" "$work/after.list" | head -5 || true
            diff "$work/before.sums" "$work/after.sums" | head -5 || true
            failed=1
        fi
    done
done
rm -f "$work"/before.* "$work"/after.*
exit $failed
