// `tesmar text FILE [--from ENCODING] [--to ENCODING]`: converts a text file through the library's
// Unicode and code-page operations, and says where the first invalid sequence is.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

enum class Encoding { kUtf8, kUtf16Le, kShiftJis, kEucJp };

bool parse_encoding(const char *name, Encoding *out) {
  struct Known {
    const char *name;
    Encoding encoding;
  } const known[] = {{"utf-8", Encoding::kUtf8},      {"utf8", Encoding::kUtf8},
                     {"utf-16le", Encoding::kUtf16Le}, {"sjis", Encoding::kShiftJis},
                     {"shift_jis", Encoding::kShiftJis}, {"euc-jp", Encoding::kEucJp}};
  for (const Known &k : known) {
    if (strcasecmp(name, k.name) == 0) {
      *out = k.encoding;
      return true;
    }
  }
  return false;
}

bool read_whole(const char *name, std::string *bytes) {
  FILE *f = tmx_Fopen(name, "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Code points of a piece of text, or the offset of the first byte that does not decode.
struct Decoded {
  std::vector<uint32_t> points;
  std::size_t bad = std::string::npos;
};

// A JIS character through the tables; 0 when the row lies outside the set or the code is free.
uint32_t jis_character(int set, int first, int second) {
  int last_row = set == 1 ? 0x21 + UNL_JIS0208_ENTRIES / 94 - 1 : 0x21 + UNL_JIS0212_ENTRIES / 94 - 1;
  if (first < 0x21 || first > last_row || second < 0x21 || second > 0x7E) return 0;
  return unl_JISToUnicode(set, (first << 8) | second);
}

Decoded decode_shift_jis(const std::string &s) {
  Decoded d;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      d.points.push_back(b);
      ++i;
    } else if (b >= 0xA1 && b <= 0xDF) {  // half-width katakana
      d.points.push_back(0xFF61 + (b - 0xA1));
      ++i;
    } else if (((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF)) && i + 1 < s.size()) {
      auto t = static_cast<unsigned char>(s[i + 1]);
      uint32_t cp = 0;
      if (t >= 0x40 && t <= 0xFC && t != 0x7F) {
        int32_t jis = unl_SJISToJIS((b << 8) | t);
        cp = jis_character(1, jis >> 8, jis & 0xFF);
      }
      if (cp == 0) {
        d.bad = i;
        return d;
      }
      d.points.push_back(cp);
      i += 2;
    } else {
      d.bad = i;
      return d;
    }
  }
  return d;
}

Decoded decode_euc_jp(const std::string &s) {
  Decoded d;
  auto byte = [&s](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; };
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = byte(i);
    uint32_t cp = 0;
    std::size_t length = 1;
    if (b < 0x80) {
      cp = b;
      if (b == 0) {  // a zero byte is a character like any other
        d.points.push_back(0);
        ++i;
        continue;
      }
    } else if (b == 0x8E) {
      length = 2;
      if (byte(i + 1) >= 0xA1 && byte(i + 1) <= 0xDF) cp = 0xFF61 + (byte(i + 1) - 0xA1);
    } else if (b == 0x8F) {
      length = 3;
      if (byte(i + 1) >= 0xA1 && byte(i + 2) >= 0xA1 && byte(i + 1) != 0xFF && byte(i + 2) != 0xFF)
        cp = jis_character(2, byte(i + 1) & 0x7F, byte(i + 2) & 0x7F);
    } else if (b >= 0xA1 && b <= 0xFE) {
      length = 2;
      if (byte(i + 1) >= 0xA1 && byte(i + 1) <= 0xFE) cp = jis_character(1, b & 0x7F, byte(i + 1) & 0x7F);
    }
    if (cp == 0 || i + length > s.size()) {
      d.bad = i;
      return d;
    }
    d.points.push_back(cp);
    i += length;
  }
  return d;
}

// The offset of the first UTF-8 sequence that unl_StrUTF8ToUTF16 refuses, found by converting the
// sequences one at a time (only done after the whole text was refused).
std::size_t first_bad_utf8(const std::string &s) {
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t length = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : 0;
    if (length == 0 || i + length > s.size()) return i;
    std::string one = s.substr(i, length);
    uint16_t *units = nullptr;
    bool ok = one.find('\0') == std::string::npos && unl_StrUTF8ToUTF16(0, one.c_str(), &units) == 0;
    std::free(units);
    if (!ok) return i;
    i += length;
  }
  return s.size();
}

// Splits at zero units: the library's strings end at the first zero, files may hold several.
template <typename Unit, typename Fn>
bool for_each_piece(const std::vector<Unit> &units, Fn convert) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= units.size(); ++i) {
    if (i < units.size() && units[i] != 0) continue;
    std::vector<Unit> piece(units.begin() + static_cast<std::ptrdiff_t>(start),
                            units.begin() + static_cast<std::ptrdiff_t>(i));
    piece.push_back(0);
    if (!convert(piece, i < units.size())) return false;
    start = i + 1;
  }
  return true;
}

int fail(const char *file, const char *encoding, std::size_t offset) {
  mpm_DiscardPending(0);
  diag("%s: invalid %s sequence at byte offset %zu", file, encoding, offset);
  return 1;
}

void put_utf16le(std::string *out, const uint16_t *units) {
  for (; *units != 0; ++units) {
    *out += static_cast<char>(*units & 0xFF);
    *out += static_cast<char>(*units >> 8);
  }
}

int run(int argc, char **argv) {
  const char *from_name = "utf-8", *to_name = "utf-8";
  const ugn_Option options[] = {
      {"-from", "s", "ENCODING", &from_name, "sjis, euc-jp, utf-16le or utf-8 (the default)"},
      {"-to", "s", "ENCODING", &to_name, "utf-8 (the default) or utf-16le"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "FILE", argc, argv, &args); parsed != 0) return parsed;
  Encoding from, to;
  if (!parse_encoding(from_name, &from)) return usage_error("unknown encoding after --from");
  if (!parse_encoding(to_name, &to) || (to != Encoding::kUtf8 && to != Encoding::kUtf16Le))
    return usage_error("unknown encoding after --to");
  if (args.operands.size() != 1) return usage_error("expects one FILE");
  const char *file = args.operands[0];
  const char *path = input_file(file);
  if (path == nullptr) return 1;
  std::string in;
  if (!read_whole(path, &in)) {
    diag("%s: %s", file, std::strerror(errno));
    return 1;
  }
  unl_Initialize(0);
  std::string out;
  int status = 0;
  if (from == Encoding::kUtf8 || from == Encoding::kUtf16Le) {
    std::vector<uint16_t> units;
    if (from == Encoding::kUtf8) {
      std::vector<char> bytes(in.begin(), in.end());
      std::size_t done = 0;
      bool ok = for_each_piece(bytes, [&](const std::vector<char> &piece, bool zero) {
        uint16_t *converted = nullptr;
        if (unl_StrUTF8ToUTF16(0, piece.data(), &converted) != 0) {
          done += first_bad_utf8(std::string(piece.data()));
          return false;
        }
        for (uint16_t *u = converted; *u != 0; ++u) units.push_back(*u);
        std::free(converted);
        if (zero) units.push_back(0);
        done += piece.size();
        return true;
      });
      if (!ok) status = fail(file, from_name, done);
    } else {
      for (std::size_t i = 0; i + 1 < in.size(); i += 2)
        units.push_back(static_cast<uint16_t>(static_cast<unsigned char>(in[i]) |
                                              (static_cast<unsigned char>(in[i + 1]) << 8)));
      if (in.size() % 2 != 0) status = fail(file, from_name, in.size() - 1);
    }
    if (status == 0) {
      std::size_t done = 0;
      bool ok = for_each_piece(units, [&](const std::vector<uint16_t> &piece, bool zero) {
        char *converted = nullptr;
        if (unl_StrUTF16ToUTF8(0, piece.data(), &converted) != 0) {
          // The first unit that does not pair up.
          std::size_t k = 0;
          for (; piece[k] != 0; ++k) {
            bool high = piece[k] >= 0xD800 && piece[k] <= 0xDBFF;
            bool low = piece[k] >= 0xDC00 && piece[k] <= 0xDFFF;
            if (low || (high && !(piece[k + 1] >= 0xDC00 && piece[k + 1] <= 0xDFFF))) break;
            if (high) ++k;
          }
          done += k;
          return false;
        }
        if (to == Encoding::kUtf8) {
          out += converted;
          if (zero) out += '\0';
        } else {
          put_utf16le(&out, piece.data());
          if (zero) out.append(2, '\0');
        }
        std::free(converted);
        done += piece.size();
        return true;
      });
      // Offsets count bytes of the input: units of UTF-16, or bytes of UTF-8 (never reached: the
      // UTF-8 input converted already).
      if (!ok) status = fail(file, from_name, 2 * done);
    }
  } else {
    Decoded decoded = from == Encoding::kShiftJis ? decode_shift_jis(in) : decode_euc_jp(in);
    if (decoded.bad != std::string::npos) {
      status = fail(file, from_name, decoded.bad);
    } else {
      for_each_piece(decoded.points, [&](const std::vector<uint32_t> &piece, bool zero) {
        char *utf8 = nullptr;
        if (unl_StrUTF32ToUTF8(piece.data(), &utf8) != 0) return false;
        if (to == Encoding::kUtf8) {
          out += utf8;
          if (zero) out += '\0';
        } else {
          uint16_t *units = nullptr;
          if (unl_StrUTF8ToUTF16(0, utf8, &units) == 0) put_utf16le(&out, units);
          std::free(units);
          if (zero) out.append(2, '\0');
        }
        std::free(utf8);
        return true;
      });
    }
  }
  unl_Terminate(0);
  if (status != 0) return status;
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    diag("standard output: %s", std::strerror(errno));
    return 1;
  }
  return 0;
}

const Registrar registrar{
    {"text", "convert a text file between UTF-8, UTF-16LE, Shift_JIS and EUC-JP",
     "usage: tesmar text FILE [--from sjis|euc-jp|utf-16le|utf-8] [--to utf-8|utf-16le]\n\n"
     "Converts FILE (default from UTF-8) to UTF-8 or UTF-16LE (default UTF-8) on standard output,\n"
     "through the library's Unicode operations; Shift_JIS and EUC-JP go through its JIS X 0208 and\n"
     "JIS X 0212 tables (the Unicode Consortium's mappings; single bytes below 0x80 are ASCII).\n"
     "When the file holds an invalid sequence nothing is written and the byte offset of the first\n"
     "one is given:\n\n"
     "  $ tesmar text names.txt --from sjis\n"
     "  tesmar text: names.txt: invalid sjis sequence at byte offset 17\n\n"
     "FILE - reads standard input. Exit status 1 for an invalid sequence or a file that cannot\n"
     "be read (or standard output that cannot be written), 2 for a usage error.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
