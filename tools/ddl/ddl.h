// The schema compiler: turns a schema written in the schema language (docs/ddl.md) into the
// arrays of a compiled schema, and writes them as a binary schema file (docs/ddf-format.md).
//
// The library only reads binary schema files; this compiler and its writer live with the `tesmar`
// tool and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tesmar/ddf.h"

namespace tesmar::ddl {

// A compile error: where it is and what is wrong.
struct Diagnostic {
  std::string file;
  int line = 0;
  int column = 0;
  std::string message;
  // "FILE:LINE:COLUMN: error: MESSAGE"
  std::string text() const;
};

// The arrays of a compiled schema, as they go into the file (texts as strings).
struct Image {
  std::string db_name;
  int32_t version = 0;
  int32_t release = 0;
  std::vector<std::string> attr_names;
  std::vector<uint32_t> attr_masks;
  std::vector<uint32_t> ptr_data;
  std::vector<std::string> ptr_names;
  std::vector<int32_t> ptr_counts;
  std::vector<int32_t> ptr_indices;
  std::vector<std::pair<uint32_t, std::string>> vdescs;
  std::vector<ddf_Opcode> opcodes;
  std::vector<uint32_t> typeforms;
  std::vector<std::string> fld_names;
  std::vector<std::string> fld_descs;
  std::vector<ddf_FieldDesc> fld_data;
  std::vector<int16_t> fld_indices;
  std::vector<int16_t> ent_fldcnts;
  std::vector<std::string> ent_names;
  std::vector<std::string> ent_descs;  // empty when no entity type has a description
  std::vector<uint32_t> ent_uattrs;    // empty when the schema declares no attributes
  std::vector<uint16_t> ent_sizes;
  std::vector<uint8_t> ent_info;
  std::vector<int32_t> subent_tfis;
};

// Compiles schema text; `file_name` names it in diagnostics. False with *error set on failure.
bool compile(std::string_view source, const std::string &file_name, Image *image,
             Diagnostic *error);

// Reads and compiles a schema file.
bool compile_file(const std::string &path, Image *image, Diagnostic *error);

// A binary schema file as its parts, so that tests can build damaged files.
struct Section {
  std::string name;
  std::vector<uint8_t> data;
};
struct RawFile {
  std::array<char, 32> signature{};
  int16_t version = DDF_FILE_VERSION;
  std::optional<int16_t> section_count;  // the preamble's count; the number of sections if unset
  std::array<uint8_t, sizeof(ddf_Schema)> header{};  // counts filled, pointer fields zero
  std::vector<Section> sections;
};

// The file's parts for an image: the sections that hold entries, in section-number order.
RawFile to_raw(const Image &image);

// The bytes of a file: preamble, header, sections; padded with zeros to whole pages unless
// `whole_pages` is false.
std::vector<uint8_t> serialize(const RawFile &raw, bool whole_pages = true);

// Writes an image as a binary schema file; false with a reason on failure.
bool write_file(const Image &image, const std::string &path, std::string *error);

// Byte offset of a section's data in the bytes that serialize() makes, or -1.
int64_t section_offset(const RawFile &raw, const std::string &name);

}  // namespace tesmar::ddl
