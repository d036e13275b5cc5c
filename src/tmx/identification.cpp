// The library's identification texts. The build passes the compiler and the options it compiles
// the library with (TESMAR_COMPILER_ID, TESMAR_COMPILE_OPTIONS).
#include "tesmar/tmx.h"

#ifndef TESMAR_COMPILER_ID
#error "the build must define TESMAR_COMPILER_ID"
#endif
#ifndef TESMAR_COMPILE_OPTIONS
#error "the build must define TESMAR_COMPILE_OPTIONS"
#endif

extern "C" {
const char tmx_VersionText[] = "Tesmar Version v8.0.0, created 2021-07-05 20:23:54";
const char tmx_BuildPlatformText[] = "TESMAR_BUILD_OS:Unknown";
const char tmx_OperatingSystemText[] = "Linux";
const char tmx_CompilerText[] = TESMAR_COMPILER_ID;
const char tmx_CompileOptionsText[] = TESMAR_COMPILE_OPTIONS;
}
