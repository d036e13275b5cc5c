#!/bin/sh
# Installs a build into a scratch prefix and builds two small C clients against it: one through the
# CMake package (find_package(Tesmar) -> Tesmar::tesmar), one through pkg-config.
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

mkdir "$work/client"
cat > "$work/client/main.c" <<'C'
#include <string.h>
#include <tesmar/tesmar.h>
int main(void) {
  mpm_Status code = 0;
  tmx_Initialize(0);
  int bad = tmx_GetMessageCode("OTM_NOTFOUND", &code) != 0 || code != OTM_NOTFOUND ||
            strcmp(mpm_GetMessageName(code), "OTM_NOTFOUND") != 0;
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

PKG_CONFIG_PATH="$libdir/pkgconfig" cc -std=c99 -o "$work/pc_client" "$work/client/main.c" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs tesmar) -Wl,-rpath,"$libdir"
"$work/pc_client"
echo "installed package works (CMake and pkg-config clients)"
