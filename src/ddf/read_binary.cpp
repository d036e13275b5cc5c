// Reading a binary schema file: preamble, header, sections (docs/ddf-format.md).
//
// The reader trusts nothing in the file: every section header and section extent is compared with
// the file's size (64-bit positions) before it is read, names must be terminated within their 32
// bytes and be one of the 23 section names, each at most once; the header's pointer fields are
// cleared before any section is read, so an absent section leaves null. After the last section the
// text sections are relocated and the whole schema is checked (validate.cpp). A failure frees
// everything read so far.
//
// ddf_ReadBinaryDDF reads through the paged file, opened read-only: a schema file belongs to the
// user, and a read must never write to it (a writable paged file would grow a short file by zero
// pages). The file's size is the paged file's end, the byte size it found at open, so a file that
// is not a whole number of pages reads the same as one padded with zeros.
#include <cstdlib>
#include <cstring>

#include "ddf/ddf_internal.h"
#include "tesmar/dof.h"

namespace tesmar::ddf {
namespace {

constexpr int64_t kPreamble = 36;
constexpr int64_t kSectionHeader = 36;

void *pointer_field(ddf_Schema *schema, int32_t offset) {
  return reinterpret_cast<unsigned char *>(schema) + offset;
}

void set_pointer(ddf_Schema *schema, int32_t offset, void *value) {
  std::memcpy(pointer_field(schema, offset), &value, sizeof value);
}

void *get_pointer(ddf_Schema *schema, int32_t offset) {
  void *value = nullptr;
  std::memcpy(&value, pointer_field(schema, offset), sizeof value);
  return value;
}

}  // namespace

void free_blocks(ddf_Schema *schema) {
  if (schema == nullptr) return;
  for (const ddf_Section &section : ddf_sections) std::free(get_pointer(schema, section.offset));
  std::free(schema);
}

mpm_Status load(int64_t file_size, ReadFn read, void *context, ddf_Schema **out,
                const char **reason) {
  *out = nullptr;
  const char *why = nullptr;
  if (reason == nullptr) reason = &why;
  *reason = "the file ends within its preamble, header or a section";
  unsigned char preamble[kPreamble];
  if (file_size < kPreamble || read(context, 0, kPreamble, preamble) != 0) return DDF_READ_ERR;
  // The signature is the text and its NUL; bytes after the NUL are not looked at.
  *reason = "another signature";
  if (std::memcmp(preamble, DDF_SIGNATURE, sizeof DDF_SIGNATURE) != 0) return DDF_ID_ERR;
  int16_t version = 0, section_count = 0;
  std::memcpy(&version, preamble + 32, 2);
  std::memcpy(&section_count, preamble + 34, 2);
  *reason = "another format version";
  if (version != DDF_FILE_VERSION) return DDF_VERSION_ERR;
  *reason = "a section count outside 0 to 23";
  if (section_count < 0 || section_count > DDF_SECTION_COUNT) return DDF_READ_ERR;
  *reason = "the file ends within its header";
  if (file_size - kPreamble < static_cast<int64_t>(sizeof(ddf_Schema))) return DDF_READ_ERR;

  *reason = "no memory";
  auto *schema = static_cast<ddf_Schema *>(std::calloc(1, sizeof(ddf_Schema)));
  if (schema == nullptr) return DDF_MALLOC_ERR;
  *reason = "a read failed";
  mpm_Status failure = 0;
  int64_t sizes[DDF_SECTION_COUNT];
  for (int64_t &size : sizes) size = -1;
  int64_t position = kPreamble;
  if (read(context, position, sizeof(ddf_Schema), schema) != 0) failure = DDF_READ_ERR;
  if (failure == 0) {
    schema->db_name[sizeof schema->db_name - 1] = '\0';
    for (const ddf_Section &section : ddf_sections) set_pointer(schema, section.offset, nullptr);
    position += static_cast<int64_t>(sizeof(ddf_Schema));
  }
  for (int32_t i = 0; failure == 0 && i < section_count; ++i) {
    unsigned char head[kSectionHeader];
    if (file_size - position < kSectionHeader ||
        read(context, position, kSectionHeader, head) != 0) {
      *reason = "the file ends within a section header";
      failure = DDF_READ_ERR;
      break;
    }
    const ddf_Section *section = nullptr;
    if (std::memchr(head, 0, 32) != nullptr)
      for (const ddf_Section &s : ddf_sections)
        if (std::strcmp(reinterpret_cast<const char *>(head), s.name) == 0) section = &s;
    int32_t size = 0;
    std::memcpy(&size, head + 32, 4);
    position += kSectionHeader;
    if (section == nullptr || sizes[section->number - 1] >= 0 || size < 0 ||
        file_size - position < size) {
      *reason = section == nullptr                    ? "an unknown section name"
                : sizes[section->number - 1] >= 0     ? "a section given twice"
                                                      : "a section size beyond the end of the file";
      failure = DDF_READ_ERR;
      break;
    }
    void *block = std::malloc(size > 0 ? static_cast<std::size_t>(size) : 1);
    if (block == nullptr) {
      *reason = "no memory";
      failure = DDF_MALLOC_ERR;
      break;
    }
    set_pointer(schema, section->offset, block);
    sizes[section->number - 1] = size;
    if (size > 0 && read(context, position, static_cast<uint32_t>(size), block) != 0) {
      *reason = "a read failed";
      failure = DDF_READ_ERR;
      break;
    }
    position += size;
  }
  if (failure == 0) {
    *reason = relocate_texts(schema, sizes);
    if (*reason == nullptr) *reason = check_schema(schema, sizes);
    if (*reason != nullptr) failure = DDF_READ_ERR;
  }
  if (failure != 0) {
    free_blocks(schema);
    return failure;
  }
  *out = schema;
  return 0;
}

}  // namespace tesmar::ddf

namespace {

mpm_Status read_paged(void *context, int64_t position, uint32_t count, void *buffer) {
  return dof_ReadWrite(DOF_READ, static_cast<DofFile *>(context), count, position, buffer);
}

// Closes a schema file; a close the system refused still frees the handle.
mpm_Status close_file(DofFile *file) {
  mpm_Status status = dof_CloseFile(0, file);
  if (status == DOF_CLOSE_ERR) dof_CloseFile(0, file);
  return status;
}

}  // namespace

extern "C" mpm_Status ddf_ReadBinaryDDF(uint32_t, const char *file_name, ddf_Schema **schema) {
  if (schema == nullptr || file_name == nullptr) {
    if (schema != nullptr) *schema = nullptr;
    return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  }
  *schema = nullptr;
  DofFile *file = nullptr;
  if (dof_OpenFile(DOF_READ_ONLY, file_name, 1, DDF_PAGE_SIZE, &file) != 0)
    return mpm_IssueMessage(0, DDF_OPEN_ERR, MPM_ERROR, file_name);
  ddf_Schema *read = nullptr;
  mpm_Status status = tesmar::ddf::load(file->end, read_paged, file, &read);
  // A close that fails after a sound read still fails the read: nothing is handed over that
  // came with an error.
  if (close_file(file) != 0 && status == 0) {
    tesmar::ddf::free_blocks(read);
    read = nullptr;
    status = DDF_READ_ERR;
  }
  if (status == DDF_MALLOC_ERR) return mpm_IssueMessage(0, status, MPM_ERROR);
  if (status != 0) return mpm_IssueMessage(0, status, MPM_ERROR, file_name);
  *schema = read;
  return 0;
}
