#!/bin/sh
# Prints the table of docs/filetype.md: each file of the sample corpus with the answers of
# `tesmar filetype` and of the `file` command.
# usage: tools/filetype_vs_file.sh BUILD_DIR
set -eu
build=$(cd "${1:-build/default}" && pwd)
tesmar="$build/tools/tesmar/tesmar"
cd "$(dirname "$0")/.."
echo "| sample | \`tesmar filetype\` | \`file -b\` ($(file --version | head -1)) |"
echo "|---|---|---|"
for f in samples/filetype/*; do
  ours=$("$tesmar" filetype "$f" | sed "s|^$f: ||")
  theirs=$(file -b "$f")
  echo "| $(basename "$f") | $ours | $theirs |"
done
