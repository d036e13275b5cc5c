#!/bin/sh
# Runs every benchmark program of a build, for docs/performance.md.
# usage: bench/run.sh BUILD_DIR [extra Google Benchmark flags]
set -eu
build=${1:-build/default}
shift || true
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  driver=$(dirname "$0")/${name#bench_}.py
  if [ -f "$driver" ]; then
    python3 "$driver" "$b"  # runs each job in a fresh process
  else
    "$b" "$@"
  fi
done
