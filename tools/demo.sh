#!/bin/sh
# A short tour of what the library does, through the `tesmar` command.
# usage: tools/demo.sh BUILD_DIR
set -eu
build=$(cd "${1:-build/default}" && pwd)
tesmar="$build/tools/tesmar/tesmar"
cd "$(dirname "$0")/.."  # the bundled samples are named from the project's root
run() {
  echo "\$ tesmar $*"
  "$tesmar" "$@"
  echo
}
run version
run status 0x30006
run status OTM_NOTFOUND
run messages OTM
run messages EVM
run loop --point 2,2 --point 0,0 1,1 3,1 3,3 1,3
# The schema compiler on the bundled geometry schema (docs/ddl.md).
samples=$(cd "$(dirname "$0")/../samples" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmar-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
ddf=$work/geometry.ddf
run ddl compile "$samples/geometry.ddl" -o "$ddf"
# What the file holds, read back with the library's reader.
run ddl show "$ddf"
# An entity store of that schema: a few thousand entities with pointers between them, in a model
# whose 32-entry cache sends nearly all of them to its paged file; every field walked, the model
# listed, the error summary and the paged file's statistics printed.
run model "$ddf" --entities 3000
# A model saved to a file and read back (docs/saved-model.md).
run model "$ddf" --entities 30 --memory --save "$work/tour.sav"
run model show "$work/tour.sav" --schema "$ddf" --entity 2
# Japanese names as CAD files carry them: Shift_JIS read through the JIS tables.
run text "$samples/names.sjis" --from sjis
# A gzipped input written out through the decompressor.
printf 'A translator receives its input compressed.\n' > "$work/part.txt"
gzip "$work/part.txt"
run extract "$work/part.txt.gz" -o "$work/part.txt"
# Replacement message texts: build a message-text file from a listing and list what it replaces.
run msgfile build "$samples/messages_de.lst" -o "$work/messages_de.msg"
run msgfile show "$work/messages_de.msg"
# Settings read from a configuration file against their schema, one of them overridden from the
# command line (docs/config.md).
run ddl compile "$samples/translate.ddl" -o "$work/translate.ddf"
run config check "$samples/translate.cfg" --schema "$work/translate.ddf" -- -scale 25.4
# Which mappings a translator runs, as a mapping file a person can edit (docs/mapping-file.md).
run map dump
# CAD files recognised from their contents, with the facts found on the way.
run filetype samples/filetype/iges_crlf.igs samples/filetype/step_two_schemas.stp \
  samples/filetype/dxf_comment.dxf samples/filetype/dwg_ac1015.dwg samples/filetype/model.txt
# The sample translator: an IGES file (every entity type it reads) into a DXF file, through the
# whole library (docs/translator.md).
run translate samples/iges/sample.igs -o "$work/sample.dxf" --config samples/translate.cfg --report
