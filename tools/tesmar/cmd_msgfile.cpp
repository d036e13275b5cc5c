// `tesmar msgfile build LISTING -o FILE` and `tesmar msgfile show FILE`: message-text files, through
// which a user replaces the library's message texts (with translations, say).
//
// A listing holds one `SYMBOLIC_NAME = text` a line (docs/message-file.md): the name of a message
// (OTM_NOTFOUND), an equals sign, one blank, and the text starting with its marker (a blank for
// printf formatting, '+' for the library's engine), with \n, \t, \r, \\ and \xHH escapes. Blank
// lines and lines starting with '#' are ignored. `show` prints what a file replaces in the same
// form, so its output can be edited and built again.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

constexpr uint32_t kNoTexts = 0xFFFFFFFFu;

struct Entry {
  int line;
  std::string name;
  int32_t module;
  int32_t number;      // message number (row + 1)
  int32_t text_index;  // row of the texts
  std::string text;
};

bool is_name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescape(const std::string &in, std::string *out, std::string *error) {
  out->clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      *out += in[i];
      continue;
    }
    if (++i == in.size()) {
      *error = "a backslash ends the line";
      return false;
    }
    switch (in[i]) {
      case 'n': *out += '\n'; break;
      case 't': *out += '\t'; break;
      case 'r': *out += '\r'; break;
      case '\\': *out += '\\'; break;
      case 'x': {
        int hi = i + 1 < in.size() ? hex_value(in[i + 1]) : -1;
        int lo = i + 2 < in.size() ? hex_value(in[i + 2]) : -1;
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) {
          *error = "\\x needs two hexadecimal digits (not 00)";
          return false;
        }
        *out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + in[i];
        return false;
    }
  }
  return true;
}

std::string escape(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int32_t folded_index(const mpm_ModuleDesc *desc, int32_t number) {
  int32_t index = desc->names[number - 1].text_index;
  return index < 0 ? -index : index;
}

// Reads and checks a listing; every problem is reported with its line.
bool read_listing(const char *path, std::vector<Entry> *entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    diag("%s: cannot be read", path);
    return false;
  }
  bool ok = true;
  std::map<mpm_Status, int> seen;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "\x1A") continue;  // end-of-file mark of files written on Windows
    std::size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] == '#') continue;
    auto problem = [&](const std::string &what) {
      std::fprintf(stderr, "%s:%d: %s\n", escaped(path).c_str(), number, escaped(what).c_str());
      ok = false;
    };
    std::size_t name_end = p;
    while (name_end < line.size() && is_name_char(line[name_end])) ++name_end;
    std::string name = line.substr(p, name_end - p);
    std::size_t q = line.find_first_not_of(" \t", name_end);
    if (name.empty() || q == std::string::npos || line[q] != '=') {
      problem("expected SYMBOLIC_NAME = text");
      continue;
    }
    ++q;
    if (q < line.size() && line[q] == ' ') ++q;  // the one blank after '='
    Entry entry{number, name, 0, 0, 0, {}};
    std::string error;
    if (!unescape(line.substr(q), &entry.text, &error)) {
      problem(error);
      continue;
    }
    if (entry.text.empty() || (entry.text[0] != ' ' && entry.text[0] != '+')) {
      problem("the text must begin with its marker: a blank (printf) or '+' (the engine)");
      continue;
    }
    mpm_Status code = 0;
    mpm_Status found = tmx_GetMessageCode(name.c_str(), &code);
    mpm_DiscardPending(0);
    if (found != 0) {
      problem("no message is named " + name);
      continue;
    }
    if (!seen.emplace(code, number).second) {
      problem(name + " was given on line " + std::to_string(seen[code]) + " already");
      continue;
    }
    mpm_DecodeStatus(code, &entry.module, &entry.number);
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(entry.module);
    entry.text_index = folded_index(desc, entry.number);
    if (entry.text_index >= desc->count) {
      problem(name + " has no text of its own");
      continue;
    }
    entries->push_back(entry);
  }
  return ok;
}

bool le_write(int64_t offset, std::string bytes) {
  return dof_ReadWrite(DOF_WRITE, mpm_message_file, static_cast<uint32_t>(bytes.size()), offset,
                       bytes.data()) == 0;
}

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// Appends a block; false when it fails or would not be addressable by 32-bit offsets.
bool append(const std::string &bytes, uint32_t *offset) {
  int64_t at = 0;
  if (dof_AllocateBlock(mpm_message_file, static_cast<uint32_t>(bytes.size()), &at) != 0)
    return false;
  if (at + static_cast<int64_t>(bytes.size()) > int64_t{kNoTexts}) {
    diag("the texts do not fit in a message-text file (4 GiB)");
    return false;
  }
  *offset = static_cast<uint32_t>(at);
  return le_write(at, bytes);
}

bool write_texts(const std::vector<Entry> &entries) {
  std::map<int32_t, std::vector<const Entry *>> by_module;
  for (const Entry &e : entries) by_module[e.module].push_back(&e);
  for (const auto &[module, list] : by_module) {
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
    std::string table(8u * desc->count, '\0');
    for (const Entry *e : list) {
      uint32_t offset = 0;
      if (!append(e->text, &offset)) return false;
      table.replace(8u * static_cast<uint32_t>(e->text_index), 8,
                    le32(offset) + le32(static_cast<uint32_t>(e->text.size())));
    }
    uint32_t offset = 0;
    if (!append(table, &offset)) return false;
    mpm_message_modules[module] = offset;
  }
  return true;
}

int build(const char *listing, Output *out) {
  std::vector<Entry> entries;
  if (!read_listing(listing, &entries)) return 1;
  const char *scratch = out->path();
  bool ok = mpm_OpenMessageFile(MPM_UPDATE_FILE, scratch) == 0;
  if (ok) ok = write_texts(entries);
  if (mpm_CloseMessageFile(0) != 0) ok = false;
  // Every text must be the one the library then uses: a text whose conversions differ from the
  // built-in text's would be ignored at run time.
  if (ok && mpm_OpenMessageFile(0, scratch) == 0) {
    for (const Entry &e : entries) {
      char *used = mpm_GetMessageText(0, e.module, e.number);
      if (used == nullptr || e.text != used) {
        const mpm_ModuleDesc *desc = mpm_GetModuleDesc(e.module);
        std::fprintf(stderr,
                     "%s:%d: %s: the text does not take the arguments of the built-in text "
                     "\"%s\" (the same conversions in the same order)\n",
                     escaped(listing).c_str(), e.line, e.name.c_str(),
                     escape(desc->texts[e.text_index]).c_str());
        ok = false;
      }
      std::free(used);
    }
    mpm_CloseMessageFile(0);
  } else {
    ok = false;
  }
  if (!ok) {
    show_pending();
    return 1;
  }
  if (!out->commit()) return 1;
  if (out->target() != "-")
    std::printf("%s: %zu text%s\n", escaped(out->target()).c_str(), entries.size(),
                entries.size() == 1 ? "" : "s");
  return 0;
}

// The bytes of a file entry as stored, or false when it keeps the built-in text or lies outside.
bool stored_text(uint32_t base, int32_t index, std::string *text, bool *outside) {
  DofFile *file = mpm_message_file;
  *outside = false;
  int64_t entry_at = int64_t{base} + 8 * int64_t{index};
  unsigned char entry[8];
  if (entry_at > file->end - 8 || dof_ReadWrite(DOF_READ, file, 8, entry_at, entry) != 0) {
    *outside = true;
    return false;
  }
  uint32_t offset = entry[0] | entry[1] << 8 | entry[2] << 16 | uint32_t{entry[3]} << 24;
  auto length = static_cast<int32_t>(entry[4] | entry[5] << 8 | entry[6] << 16 |
                                     uint32_t{entry[7]} << 24);
  if (length < 1) return false;
  if (int64_t{offset} > file->end - length || length > (1 << 20)) {
    *outside = true;
    return false;
  }
  text->assign(static_cast<std::size_t>(length), '\0');
  if (dof_ReadWrite(DOF_READ, file, static_cast<uint32_t>(length), offset, text->data()) != 0) {
    *outside = true;
    return false;
  }
  return true;
}

int show(const char *path, const char *shown) {
  if (mpm_OpenMessageFile(0, path) != 0) {
    show_pending();
    return 1;
  }
  std::printf("# texts replaced by %s\n", escaped(shown).c_str());
  for (int32_t module = 0; module < 256; ++module) {
    uint32_t base = mpm_message_modules[module];
    if (base == kNoTexts) continue;
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
    if (desc->count == 0) {
      std::printf("# module %d: texts for a module this library does not have\n", module);
      continue;
    }
    for (int32_t number = 1; number <= desc->count; ++number) {
      int32_t index = folded_index(desc, number);
      if (index >= desc->count) continue;
      std::string name = mpm_GetMessageName((static_cast<mpm_Status>(module) << 16) |
                                            static_cast<mpm_Status>(number));
      char *used = mpm_GetMessageText(0, module, number);
      std::string text = used != nullptr ? used : "";
      std::free(used);
      const char *built_in = desc->texts[index];
      std::string stored;
      bool outside = false;
      bool has = stored_text(base, index, &stored, &outside);
      if (text != built_in || (has && stored == built_in)) {
        std::printf("%s = %s\n", name.c_str(), escape(text).c_str());
      } else if (has) {
        std::printf("# %s is not used: it does not take the arguments of \"%s\"\n", name.c_str(),
                    escape(built_in).c_str());
      } else if (outside) {
        std::printf("# %s is not used: its entry lies outside the file\n", name.c_str());
      }
    }
  }
  mpm_CloseMessageFile(0);
  show_pending();
  return 0;
}

int run(int argc, char **argv) {
  const char *sub = argc >= 2 ? argv[1] : "";
  const char *output = nullptr;
  int32_t force = 0;
  const ugn_Option build_options[] = {
      {"o", "s+", "FILE", &output, "the message-text file to write (- for standard output)"},
      {"f", "f", nullptr, &force, "replace FILE if it exists"},
      {"-force", "f", nullptr, &force, "the same as -f"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  const ugn_Option show_options[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
  const bool is_build = std::strcmp(sub, "build") == 0;
  if (!is_build && std::strcmp(sub, "show") != 0)
    return usage_error("expects `build LISTING -o FILE` or `show FILE`");
  Args args;
  const int parsed = parse_args(is_build ? build_options : show_options,
                                is_build ? "LISTING" : "FILE", argc - 1, argv + 1, &args);
  if (parsed != 0) return parsed;
  if (args.operands.size() != 1)
    return usage_error(is_build ? "build expects one LISTING" : "show expects one FILE");
  const char *input = input_file(args.operands[0]);
  if (input == nullptr) return 1;
  if (!is_build) return show(input, args.operands[0]);
  Output out;
  if (!out.prepare(output, {input}, force != 0)) return 1;
  return build(input, &out);
}

const Registrar registrar{
    {"msgfile", "build or list a message-text file (replacement message texts)",
     "usage: tesmar msgfile build LISTING -o FILE [-f]\n"
     "       tesmar msgfile show FILE\n\n"
     "A message-text file replaces the library's message texts at run time (for example with\n"
     "translations) once a program opens it with mpm_OpenMessageFile.\n\n"
     "build  writes FILE from LISTING: one `SYMBOLIC_NAME = text` a line, the text beginning with\n"
     "       its marker (a blank for printf formatting, '+' for the library's engine) and using\n"
     "       the escapes \\n \\t \\r \\\\ \\xHH; blank lines and lines starting with '#' are\n"
     "       ignored. A text must take the same arguments as the text it replaces (the same\n"
     "       conversions in the same order); otherwise nothing is written.\n"
     "       An existing FILE is replaced only with -f (--force); FILE - is standard output.\n"
     "show   lists the texts FILE replaces, as a listing.\n\n"
     "LISTING and FILE may be - for standard input.\n\n"
     "Example line:  OTM_NOTFOUND =  Objekt nicht gefunden\\n\n"
     "See docs/message-file.md for the format of listings and files.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
