// Fuzz target: arbitrary text compiled as a schema (tools/ddl), the result read back by the
// library's reader. The compiler must give a located error or a schema, never exhaust the stack;
// and the reader must accept every schema the compiler writes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "ddf/ddf_internal.h"
#include "ddl.h"
#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

struct Memory {
  const std::vector<uint8_t> *bytes;
};

mpm_Status read_memory(void *context, int64_t position, uint32_t count, void *buffer) {
  const auto &bytes = *static_cast<Memory *>(context)->bytes;
  if (position < 0 || position + count > static_cast<int64_t>(bytes.size())) return DDF_READ_ERR;
  std::memcpy(buffer, bytes.data() + position, count);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  tesmar::fuzz::start_library();
  tesmar::ddl::Image image;
  tesmar::ddl::Diagnostic error;
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  if (!tesmar::ddl::compile(text, "fuzz.ddl", &image, &error)) {
    if (error.line < 0 || error.message.empty()) std::abort();  // an error says where and what
    return 0;
  }
  const std::vector<uint8_t> bytes = tesmar::ddl::serialize(tesmar::ddl::to_raw(image));
  Memory memory{&bytes};
  ddf_Schema *schema = nullptr;
  const char *why = nullptr;
  if (tesmar::ddf::load(static_cast<int64_t>(bytes.size()), read_memory, &memory, &schema, &why) != 0) {
    std::fprintf(stderr, "the reader refuses what the compiler wrote: %s\n", why != nullptr ? why : "");
    std::abort();
  }
  ddf_FreeSchema(0, schema);
  mpm_DiscardPending(0);
  return 0;
}
