#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each; a crash, a leak or a hang fails the run.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR SECONDS}
seconds=${2:-60}
for f in "$build"/fuzz/*_fuzz; do
    name=$(basename "$f")
    corpus="$build/fuzz-corpus/$name"
    mkdir -p "$corpus"
    echo "== $name for ${seconds}s"
    "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 "$corpus"
done
