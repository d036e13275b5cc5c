#!/bin/sh
# Installs a build into a scratch prefix outside the linker's path and checks it as a user would:
# the installed tool starts (its RPATH is relative), the manual page is there, and small C99
# clients build and run through the CMake package (find_package(Tesmar) -> Tesmar::tesmar) and
# through pkg-config, against the shared library and the static one, with no other package's
# .pc file in reach.
# usage: tests/install_check.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmar-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
lib=$(find "$work/prefix" -name 'libtesmar.so.*.*' | head -n 1)
libdir=$(dirname "$lib")
soname=$(readelf -d "$lib" | sed -n 's/.*SONAME.*\[\(.*\)\].*/\1/p')
[ "$soname" = "libtesmar.so.8" ] || { echo "unexpected SONAME '$soname'"; exit 1; }
[ -f "$libdir/libtesmar.a" ] || { echo "no static library in $libdir"; exit 1; }
[ -f "$work/prefix/share/man/man1/tesmar.1" ] || { echo "no manual page"; exit 1; }
# The tool from a prefix that has moved since it was installed.
mv "$work/prefix" "$work/moved"
env -u LD_LIBRARY_PATH "$work/moved/bin/tesmar" version > "$work/version.txt" ||
  { echo "the installed tool does not start"; exit 1; }
grep -q '^version number: ' "$work/version.txt" || { echo "no version number"; exit 1; }
mv "$work/moved" "$work/prefix"

mkdir "$work/client"
cat > "$work/client/main.c" <<'C'
#include <string.h>
#include <tesmar/tesmar.h>
#if TESMAR_VERSION_NUMBER != TESMAR_VERSION_MAJOR * 1000000 + TESMAR_VERSION_MINOR * 1000 + TESMAR_VERSION_PATCH
#error "the version macros disagree"
#endif
int main(void) {
  mpm_Status code = 0;
  tmx_Initialize(0);
  int bad = tmx_GetMessageCode("OTM_NOTFOUND", &code) != 0 || code != OTM_NOTFOUND ||
            strcmp(mpm_GetMessageName(code), "OTM_NOTFOUND") != 0 ||
            tmx_GetVersionNumber() != TESMAR_VERSION_NUMBER;
  tmx_Terminate(0);
  return bad;
}
C
cat > "$work/client/CMakeLists.txt" <<'C'
cmake_minimum_required(VERSION 3.25)
project(client C CXX)
find_package(Tesmar REQUIRED)
add_executable(client main.c)
target_link_libraries(client PRIVATE Tesmar::tesmar)
C
cmake -S "$work/client" -B "$work/client/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/client/build" >/dev/null
"$work/client/build/client"

# pkg-config sees tesmar.pc alone (the package's pkgconfig folder holds nothing else), as on a
# machine without minizip's (or zlib's) .pc file.
[ "$(ls "$libdir/pkgconfig")" = "tesmar.pc" ] || { echo "other files beside tesmar.pc"; exit 1; }
pc() { PKG_CONFIG_LIBDIR="$libdir/pkgconfig" PKG_CONFIG_PATH= pkg-config "$@"; }
flags=$(pc --cflags --libs tesmar) || { echo "pkg-config fails on tesmar.pc alone"; exit 1; }
case "$flags" in
  *minizip*|*//*) echo "pkg-config gives '$flags'"; exit 1 ;;
esac
cc -std=c99 -pedantic -Werror -o "$work/pc_client" "$work/client/main.c" $flags -Wl,-rpath,"$libdir"
"$work/pc_client"
cc -std=c99 -o "$work/pc_static" "$work/client/main.c" $(pc --cflags tesmar) \
  "$libdir/libtesmar.a" $(pc --static --libs-only-l tesmar | sed 's/-ltesmar//')
"$work/pc_static"
echo "installed package works (tool, CMake and pkg-config clients, shared and static)"
