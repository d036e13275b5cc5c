#include "schema_support.h"

#include <cstring>

#include "ddf/ddf_internal.h"
#include "support/library.h"

namespace tesmar::test {

ddl::Image compile_ok(std::string_view text) {
  ddl::Image image;
  ddl::Diagnostic error;
  bool ok = ddl::compile(text, "test.ddl", &image, &error);
  EXPECT_TRUE(ok) << error.text();
  return image;
}

std::string compile_error(std::string_view text) {
  ddl::Image image;
  ddl::Diagnostic error;
  if (ddl::compile(text, "test.ddl", &image, &error)) return "";
  return error.text();
}

std::vector<uint8_t> file_bytes(const ddl::Image &image) {
  return ddl::serialize(ddl::to_raw(image));
}

namespace {
struct Memory {
  const std::vector<uint8_t> *bytes;
};
mpm_Status read_memory(void *context, int64_t position, uint32_t count, void *buffer) {
  const auto &bytes = *static_cast<Memory *>(context)->bytes;
  EXPECT_GE(position, 0);
  EXPECT_LE(position + count, static_cast<int64_t>(bytes.size())) << "read beyond the file";
  if (position < 0 || position + count > static_cast<int64_t>(bytes.size())) return DDF_READ_ERR;
  std::memcpy(buffer, bytes.data() + position, count);
  return 0;
}
}  // namespace

mpm_Status read_bytes(const std::vector<uint8_t> &bytes, ddf_Schema **schema,
                      std::string *reason) {
  Memory memory{&bytes};
  const char *why = nullptr;
  mpm_Status status = tesmar::ddf::load(static_cast<int64_t>(bytes.size()), read_memory, &memory,
                                        schema, &why);
  if (reason != nullptr) *reason = status != 0 && why != nullptr ? why : "";
  if (status == DDF_MALLOC_ERR) return mpm_IssueMessage(0, status, MPM_ERROR);
  if (status != 0) return mpm_IssueMessage(0, status, MPM_ERROR, "memory.ddf");
  return 0;
}

CurrentSchema::CurrentSchema(ddf_Schema *schema) : schema_(schema), previous_(ddf_current) {
  ddf_current = schema_;
  ddf_last_tf = TF_NONE;
}

CurrentSchema::CurrentSchema(std::string_view text) : previous_(ddf_current) {
  // Through a file and the library's own reader, as an application gets its schema.
  TempDir dir;
  std::string path = dir.file("schema.ddf");
  std::string error;
  EXPECT_TRUE(ddl::write_file(compile_ok(text), path, &error)) << error;
  mpm_Status status = ddf_ReadBinaryDDF(0, path.c_str(), &schema_);
  EXPECT_EQ(status, 0u);
  ddf_current = schema_;
  ddf_last_tf = TF_NONE;
}

CurrentSchema::~CurrentSchema() {
  ddf_FreeSchema(0, schema_);
  ddf_current = previous_;
  ddf_last_tf = TF_NONE;
}

std::vector<const ddf_FieldDesc *> fields_of(const ddf_Schema *schema, int32_t tfi) {
  std::vector<const ddf_FieldDesc *> out;
  for (const ddf_FieldDesc &d : tesmar::ddf::type_fields(schema, tfi)) out.push_back(&d);
  return out;
}

const ddf_FieldDesc *field(const char *entity, const char *name) {
  ddf_FieldDesc *desc = nullptr;
  uint32_t tf = ddf_GetTFByName(entity);
  EXPECT_NE(tf, TF_NONE) << entity;
  EXPECT_EQ(ddf_GetFieldDesc(name, tf, &desc), 0u) << entity << "." << name;
  return desc;
}

}  // namespace tesmar::test
