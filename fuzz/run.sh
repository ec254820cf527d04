#!/usr/bin/env bash
# Runs every fuzz target (or only those named after SECONDS) for SECONDS each; a crash, a leak
# or a hang fails the run. New inputs go to BUILD_DIR/fuzz-corpus/NAME; the committed seeds in
# fuzz/corpus/NAME are read, never written.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:-60}
shift 2 || shift $#
seeds_root="$(cd "$(dirname "$0")" && pwd)/corpus"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$f")"); done
fi
for name in "${targets[@]}"; do
    corpus="$build/fuzz-corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "$seeds_root/${name%_fuzz}" ] && seeds+=("$seeds_root/${name%_fuzz}")
    echo "== $name for ${seconds}s"
    "$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -artifact_prefix="$build/fuzz-artifacts-$name-" -print_final_stats=1 \
        "$corpus" "${seeds[@]}"
done
