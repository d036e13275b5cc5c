#!/bin/sh
# Runs every benchmark program of a build, for docs/performance.md.
# usage: bench/run.sh BUILD_DIR [extra Google Benchmark flags]
set -eu
build=${1:-build/default}
shift || true
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "$@"
done
