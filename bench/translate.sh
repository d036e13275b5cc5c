#!/bin/sh
# The translation benchmark: an IGES file of N entities (tools/gen/iges_gen.py bulk: lines, arcs,
# copious data and points on 16 levels, one in ten under a transformation matrix) translated by
# `tesmar translate`, and read by OCCT's IGES reader (ReadFile alone, and with TransferRoots) in
# the same run. Each side runs 3 times in a fresh process; the table shows the fastest wall-clock
# time and the largest peak resident memory.
# usage: bench/translate.sh BUILD_DIR [N]     (N = 1000000 by default)
set -eu
build=$(cd "${1:-build/default}" && pwd)
n=${2:-1000000}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmar-bench-translate.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/gen/iges_gen.py" bulk "$n" "$work/bulk.igs"
echo "input: $n entities, $(wc -c < "$work/bulk.igs") bytes"
measure() {  # name command...: fastest seconds and peak kB of 3 runs
  name=$1
  shift
  best="" peak=0
  for i in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/out" 2>&1 || { cat "$work/out"; exit 1; }
    set -- "$@"
    read -r seconds kb < "$work/time"
    if [ -z "$best" ] || [ "$(echo "$seconds < $best" | bc)" = 1 ]; then best=$seconds; fi
    if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
  done
  printf '| %s | %s s | %s MB |\n' "$name" "$best" "$((peak / 1024))"
}
echo "| run | time | peak resident memory |"
echo "|---|---:|---:|"
measure "tesmar translate (read, map, write DXF)" "$build/tools/tesmar/tesmar" translate -f "$work/bulk.igs" -o "$work/out.dxf"
if [ -x "$build/bench/occt_iges" ]; then
  measure "OCCT IGESControl_Reader::ReadFile" "$build/bench/occt_iges" "$work/bulk.igs" read
  measure "OCCT ReadFile + TransferRoots" "$build/bench/occt_iges" "$work/bulk.igs" transfer
else
  echo "OCCT's IGES reader was not built (install libocct-data-exchange-dev): no peer"
fi
