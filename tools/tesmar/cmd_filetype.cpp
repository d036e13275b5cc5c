// `tesmar filetype FILE... [--json]`: the CAD format of each file and the facts found on the way.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

const char *type_name(int32_t type) {
  switch (type) {
    case TMX_FILETYPE_ACIS_TEXT: return "ACIS text";
    case TMX_FILETYPE_ACIS_BINARY: return "ACIS binary";
    case TMX_FILETYPE_DXF: return "DXF";
    case TMX_FILETYPE_DXF_BINARY: return "DXF binary";
    case TMX_FILETYPE_DWG: return "DWG";
    case TMX_FILETYPE_IGES: return "IGES";
    case TMX_FILETYPE_IGES_COMPRESSED: return "IGES compressed";
    case TMX_FILETYPE_IGES_BINARY: return "IGES binary";
    case TMX_FILETYPE_MODEL: return "saved model";
    case TMX_FILETYPE_STEP: return "STEP";
    case TMX_FILETYPE_VDAFS: return "VDAFS";
    case TMX_FILETYPE_AP242_XML: return "AP242 XML";
    default: return "unknown";
  }
}

// Line-end characters by name ("CR LF"), for people.
std::string line_end_names(const char *chars, int32_t count) {
  std::string s;
  for (int32_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(chars[i]);
    if (!s.empty()) s += ' ';
    if (c == '\r') {
      s += "CR";
    } else if (c == '\n') {
      s += "LF";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", c);
      s += hex;
    }
  }
  return s.empty() ? "none" : s;
}

// A JSON string: quotes, backslashes and control characters escaped; bytes that are not UTF-8
// become U+FFFD.
std::string json(const std::string &text) {
  std::string out = "\"";
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // Length of a well-formed UTF-8 sequence starting here, or 0.
      std::size_t length = 0;
      uint32_t cp = 0;
      if (c >= 0xC2 && c <= 0xDF) length = 2, cp = c & 0x1F;
      else if (c >= 0xE0 && c <= 0xEF) length = 3, cp = c & 0x0F;
      else if (c >= 0xF0 && c <= 0xF4) length = 4, cp = c & 0x07;
      bool ok = length > 0 && i + length <= n;
      for (std::size_t k = 1; ok && k < length; ++k) {
        ok = (p[i + k] & 0xC0) == 0x80;
        cp = (cp << 6) | (p[i + k] & 0x3F);
      }
      ok = ok && !(length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
           !(length == 4 && (cp < 0x10000 || cp > 0x10FFFF));
      if (ok) {
        out.append(text, i, length);
        i += length;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
    }
  }
  return out + "\"";
}

std::string line_end_json(const char *chars, int32_t count) {
  return json(std::string(chars != nullptr ? chars : "", chars != nullptr ? static_cast<std::size_t>(count) : 0));
}

// The facts of a result block: for people (", record length 82, ...") and as JSON members.
void describe(int32_t type, const void *block, std::string *text, std::string *members) {
  if (block == nullptr) return;
  switch (type) {
    case TMX_FILETYPE_ACIS_TEXT: {
      const int32_t v = static_cast<const tmx_FileTypeValue *>(block)->value;
      *text += ", first integer " + std::to_string(v);
      *members += ", \"first_integer\": " + std::to_string(v);
      break;
    }
    case TMX_FILETYPE_IGES: {
      const auto *iges = static_cast<const tmx_FileTypeIges *>(block);
      *text += ", line end " + line_end_names(iges->line_end, iges->line_end_count) +
               ", record length " + std::to_string(iges->record_length);
      *members += ", \"line_end\": " + line_end_json(iges->line_end, iges->line_end_count) +
                  ", \"record_length\": " + std::to_string(iges->record_length);
      break;
    }
    case TMX_FILETYPE_MODEL: {
      const auto *model = static_cast<const tmx_FileTypeModel *>(block);
      *text += ", model " + std::to_string(model->model_number) + ", schema " + model->schema_name +
               ", version " + std::to_string(model->version) + "." + std::to_string(model->release);
      *members += ", \"model_number\": " + std::to_string(model->model_number) +
                  ", \"schema\": " + json(model->schema_name) +
                  ", \"version\": " + std::to_string(model->version) +
                  ", \"release\": " + std::to_string(model->release);
      break;
    }
    case TMX_FILETYPE_STEP: {
      const auto *step = static_cast<const tmx_FileTypeStep *>(block);
      std::string names, list;
      for (int32_t k = 0; k < step->schema_count && k < TMX_STEP_SCHEMA_COUNT; ++k) {
        names += (k > 0 ? ", " : "") + std::string(step->schema_names[k]);
        list += (k > 0 ? ", " : "") + json(step->schema_names[k]);
      }
      *text += step->schema_count == 0 ? ", no schema named" : (step->schema_count == 1 ? ", schema " : ", schemas ") + names;
      *members += ", \"schemas\": [" + list + "]";
      break;
    }
    case TMX_FILETYPE_VDAFS: {
      const auto *vdafs = static_cast<const tmx_FileTypeVdafs *>(block);
      const int32_t shown = vdafs->line_end_count < 2 ? vdafs->line_end_count : 2;
      *text += ", line end " + line_end_names(vdafs->line_end, shown) +
               (vdafs->line_end_count > 2 ? " (" + std::to_string(vdafs->line_end_count) + " characters)" : "");
      *members += ", \"line_end\": " + line_end_json(vdafs->line_end, shown) +
                  ", \"line_end_count\": " + std::to_string(vdafs->line_end_count);
      break;
    }
    default: break;
  }
}

void free_block(int32_t type, void *block) {
  if (block != nullptr && type == TMX_FILETYPE_IGES) std::free(static_cast<tmx_FileTypeIges *>(block)->line_end);
  std::free(block);
}

int run(int argc, char **argv) {
  int32_t as_json = 0;
  const ugn_Option options[] = {
      {"-json", "f", nullptr, &as_json, "a JSON array, one object per file"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "FILE...", argc, argv, &args); parsed != 0) return parsed;
  const std::vector<char *> &files = args.operands;
  if (files.empty()) return usage_error("expects at least one FILE");
  int exit_status = 0;
  if (as_json) std::printf("[\n");
  for (std::size_t f = 0; f < files.size(); ++f) {
    const char *name = files[f];
    const char *path = std::strcmp(name, "-") == 0 ? input_file(name) : name;
    int32_t type = TMX_FILETYPE_UNKNOWN;
    void *block = nullptr;
    const mpm_Status status = path != nullptr ? tmx_GetFileType(0, path, &type, &block) : TMX_READ_ERROR;
    std::string error;
    if (status != 0) {
      exit_status = 1;
      char *message = nullptr;
      mpm_AppendMessage(0, status, &message, name);
      error = message != nullptr ? message : mpm_GetMessageName(status);
      std::free(message);
      while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
      while (!error.empty() && error.front() == ' ') error.erase(error.begin());
    }
    mpm_DiscardPending(0);  // the unknown-type warning and the failure: said on the line instead
    std::string text, members;
    describe(type, block, &text, &members);
    free_block(type, block);
    if (as_json) {
      std::printf("  {\"file\": %s, \"type\": %d, \"name\": %s%s%s}%s\n", json(name).c_str(),
                  static_cast<int>(type), json(type_name(type)).c_str(), members.c_str(),
                  status != 0 ? (", \"error\": " + json(mpm_GetMessageName(status)) +
                                 ", \"message\": " + json(error)).c_str()
                              : "",
                  f + 1 < files.size() ? "," : "");
    } else if (status != 0) {
      std::printf("%s: cannot be read: %s\n", escaped(name).c_str(), escaped(error).c_str());
    } else {
      std::printf("%s: %s%s\n", escaped(name).c_str(), type_name(type), escaped(text).c_str());
    }
  }
  if (as_json) std::printf("]\n");
  return exit_status;
}

const Registrar registrar{{"filetype", "the CAD format of files (IGES, STEP, DXF, DWG, ...)",
                           "usage: tesmar filetype [--json] FILE...\n\n"
                           "Prints one line per file: its CAD exchange format and the facts found\n"
                           "on the way (line ends and record length of IGES, schema names of\n"
                           "STEP, the header of a saved model):\n\n"
                           "  $ tesmar filetype part.igs part.stp\n"
                           "  part.igs: IGES, line end CR LF, record length 82\n"
                           "  part.stp: STEP, schema AUTOMOTIVE_DESIGN\n\n"
                           "Formats: IGES (fixed-column, compressed, binary), STEP and AP242 XML,\n"
                           "DXF (text, binary), DWG, ACIS (text, binary), VDAFS, saved models;\n"
                           "anything else is \"unknown\". --json writes a JSON array instead, one\n"
                           "object per file with the type code, its name and the facts.\n\n"
                           "Exit status 1 when a file cannot be read (absent, not a regular file,\n"
                           "a read error), 2 on a usage error.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
