// Schemas for the tests: compiled from schema-language text and read back by the library's reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ddl.h"
#include "tesmar/tesmar.h"

namespace tesmar::test {

// Compiles text that must compile; a failure fails the test with the diagnostic.
ddl::Image compile_ok(std::string_view text);

// The diagnostic of text that must not compile ("" when it compiles).
std::string compile_error(std::string_view text);

// The bytes of a binary schema file for an image (whole pages).
std::vector<uint8_t> file_bytes(const ddl::Image &image);

// Reads a binary schema file held in memory with the library's reader, issuing the reader's
// message with the name "memory.ddf" on failure as the file reader does.
// `reason`, when given, receives what the reader found wrong.
mpm_Status read_bytes(const std::vector<uint8_t> &bytes, ddf_Schema **schema,
                      std::string *reason = nullptr);

// A schema made current for the life of the object, then freed; the previous one is restored.
class CurrentSchema {
 public:
  explicit CurrentSchema(ddf_Schema *schema);
  // Compiles, writes a file, reads it with ddf_ReadBinaryDDF and makes the schema current.
  explicit CurrentSchema(std::string_view text);
  ~CurrentSchema();
  CurrentSchema(const CurrentSchema &) = delete;
  CurrentSchema &operator=(const CurrentSchema &) = delete;
  ddf_Schema *get() const { return schema_; }
  ddf_Schema *operator->() const { return schema_; }

 private:
  ddf_Schema *schema_ = nullptr;
  ddf_Schema *previous_ = nullptr;
};

// Every descriptor of a type form, by TFI.
std::vector<const ddf_FieldDesc *> fields_of(const ddf_Schema *schema, int32_t tfi);

// The descriptor of a field of an entity of the current schema (by entity and field name).
const ddf_FieldDesc *field(const char *entity, const char *name);

}  // namespace tesmar::test
