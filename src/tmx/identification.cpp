// The library's identification texts. The build passes the compiler and the options it compiles
// the library with (TESMAR_COMPILER_ID, TESMAR_COMPILE_OPTIONS).
#include "tesmar/tmx.h"

#ifndef TESMAR_COMPILER_ID
#error "the build must define TESMAR_COMPILER_ID"
#endif
#ifndef TESMAR_COMPILE_OPTIONS
#error "the build must define TESMAR_COMPILE_OPTIONS"
#endif

#ifndef TESMAR_PROJECT_VERSION
#error "the build must define TESMAR_PROJECT_VERSION"
#endif

static_assert(TESMAR_VERSION_NUMBER ==
                  TESMAR_VERSION_MAJOR * 1000000 + TESMAR_VERSION_MINOR * 1000 + TESMAR_VERSION_PATCH,
              "the version number is made of its parts");

namespace {
// The header's version and the build's ("8.0.0") must be the same.
constexpr bool same_text(const char *a, const char *b) {
  for (; *a != '\0' && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}
static_assert(same_text(TESMAR_VERSION_STRING, TESMAR_PROJECT_VERSION),
              "tmx.h's TESMAR_VERSION_* and the project's version in CMakeLists.txt differ");
}  // namespace

extern "C" {
uint32_t tmx_GetVersionNumber(void) { return TESMAR_VERSION_NUMBER; }

const char tmx_VersionText[] = "Tesmar Version v8.0.0, created 2021-07-05 20:23:54";
const char tmx_BuildPlatformText[] = "TESMAR_BUILD_OS:Unknown";
const char tmx_OperatingSystemText[] = "Linux";
const char tmx_CompilerText[] = TESMAR_COMPILER_ID;
const char tmx_CompileOptionsText[] = TESMAR_COMPILE_OPTIONS;
}
