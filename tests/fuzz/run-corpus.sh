#!/bin/bash
# Fuzzes one target for a few seconds from a copy of its seed corpus.
# Usage: run-corpus.sh TARGET CORPUS_DIR SECONDS [libFuzzer options...]
set -euo pipefail
target=$1 corpus=$2 seconds=$3
shift 3
[ -d "$corpus" ] && [ -n "$(ls -A "$corpus")" ] || { echo "no seed corpus in $corpus" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kairotsu-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$corpus" "$work/corpus"
mkdir "$work/artifacts"
cd "$work"
# A crash leaves its input in artifacts/ and fails the test; the input is printed for the log.
if ! "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@" "$work/corpus"; then
  for f in "$work"/artifacts/*; do
    [ -f "$f" ] && { echo "crash input $(basename "$f"):"; od -An -tx1 "$f" | head -40; }
  done
  exit 1
fi
