#!/bin/sh
# Runs a fuzz target for SECONDS on a copy of its seed corpus (the seeds in the tree stay as they
# are; new inputs go to a scratch directory). Crashes are written to the scratch directory.
# usage: fuzz/run.sh FUZZ_BINARY SEED_DIR SECONDS [LIBFUZZER_FLAGS...]
set -eu
binary=$1 seeds=$2 seconds=${3:-20}
shift 3 2>/dev/null || shift $#
# Both may be given relative to the current directory; the run happens in a scratch directory.
case $binary in /*) ;; *) binary=$PWD/$binary ;; esac
case $seeds in /*) ;; *) seeds=$PWD/$seeds ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmar-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
cd "$work"
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$@" corpus
