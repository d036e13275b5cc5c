#!/bin/sh
# `tesmar msgfile`: a listing built into a message-text file lists back as the same texts; a text
# with other arguments, an unknown name or a missing marker writes nothing; a damaged file is
# refused with the message system's message.
# usage: tests/tool_msgfile.sh TESMAR_BINARY
set -eu
tesmar=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmar-msgfile.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

printf '%s\n' '# comment' '' \
  'OTM_NOTFOUND =  Objekt nicht gefunden\n' \
  'OTM_SIZENOTEQ = +%2$d <> %1$d\n' \
  'DOF_OPEN_ERR =  Datei \x22%s\x22\tnicht offen.\n' > "$work/good.lst"
printf '\r\n\032\n' >> "$work/good.lst"
"$tesmar" msgfile build "$work/good.lst" -o "$work/good.msg" > "$work/out" || fail "build"
grep -q '3 texts' "$work/out" || fail "build summary"
"$tesmar" msgfile show "$work/good.msg" > "$work/shown" || fail "show"
cat > "$work/expected" <<EXPECTED
# texts replaced by $work/good.msg
OTM_NOTFOUND =  Objekt nicht gefunden\n
OTM_SIZENOTEQ = +%2\$d <> %1\$d\n
DOF_OPEN_ERR =  Datei "%s"\tnicht offen.\n
EXPECTED
cmp "$work/shown" "$work/expected" || { diff "$work/shown" "$work/expected"; fail "show output"; }
# What show prints builds the same file again.
"$tesmar" msgfile build "$work/shown" -o "$work/again.msg" > /dev/null || fail "rebuild"
cmp "$work/good.msg" "$work/again.msg" || fail "rebuilt file differs"

for bad in 'OTM_INVALIDSIZE =  Groesse %s\n' 'OTM_NOTFOUND =  %d\n' 'NOPE_NOTHING =  x' \
           'OTM_NOTFOUND = x' 'OTM_NOTFOUND =  \q' 'OTM_NOTFOUND' \
           'OTM_NOTFOUND =  a\nOTM_NOTFOUND =  b'; do
  printf '%s\n' "$bad" | sed 's/\\nOTM/\nOTM/' > "$work/bad.lst"
  if "$tesmar" msgfile build "$work/bad.lst" -o "$work/bad.msg" 2> "$work/err"; then
    fail "accepted: $bad"
  fi
  [ -s "$work/err" ] || fail "no reason given for: $bad"
  [ -z "$(ls "$work" | grep '^bad\.msg')" ] || fail "file left behind for: $bad"
done

# Only a regular file is replaced by a build.
mkdir "$work/dir.msg"
if "$tesmar" msgfile build "$work/good.lst" -o "$work/dir.msg" 2> /dev/null; then fail "directory replaced"; fi
[ -d "$work/dir.msg" ] || fail "directory gone"

head -c 600 "$work/good.msg" > "$work/short.msg"
if "$tesmar" msgfile show "$work/short.msg" 2> "$work/err"; then fail "truncated file shown"; fi
grep -q 'MPM_DOFERROR' "$work/err" || fail "no DOFERROR for a truncated file"
echo "msgfile: all checks passed"
