// CAD file-type detection (tmx_GetFileType).
//
// Detection is one pass over the file: the first 160 bytes are kept for the column tests (the
// 80-column IGES record) and the line-end scan, and the token loop then reads tokens from the
// start of the file until a test decides, or to the end of the file when none does. The order of
// the tests in the loop is part of the result (a STEP or saved-model token overrides an IGES type
// found by column, a DXF section overrides a VDAFS-like header), so it is kept exactly.
//
// Messages are issued only at the end, after the file is closed and the working buffer freed: a
// client handler called by the message system may leave by longjmp or throw, and nothing may be
// held at that point.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>


#include "platform/platform.h"
#include "tmx/tmx_internal.h"
#include "tmx/token_reader.h"

namespace tesmar::tmx {
namespace {

using namespace std::string_view_literals;
using Failure = FileTypeFacts::Failure;
using Result = TokenReader::Result;

constexpr std::size_t kLargestBuffer = std::size_t{1} << 20;
constexpr std::size_t kSmallestBuffer = 4096;

// The 1-based column of the first record, or -1 when the file is shorter.
int column(std::span<const uint8_t> header, std::size_t number) {
  return number <= header.size() ? header[number - 1] : -1;
}

bool is_space(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool contains(std::span<const uint8_t> bytes, std::string_view text) {
  std::string_view all(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return all.find(text) != std::string_view::npos;
}

// The type the first record's columns give: IGES, compressed IGES, binary IGES, or unknown.
int32_t column_type(std::span<const uint8_t> header) {
  int c73 = column(header, 73);
  if (c73 >= 'a' && c73 <= 'z') c73 -= 'a' - 'A';
  const int c74 = column(header, 74);
  const int c79 = column(header, 79);
  const int c80 = column(header, 80);
  if ((c73 == 'S' || c73 == 'G') && (c74 == '0' || c74 == ' ' || c74 == '\n') &&
      (c80 == '1' || c80 == '2' || c79 == '1' || c74 == '\n'))
    return TMX_FILETYPE_IGES;
  if (c73 == 'C' && !(column(header, 72) == 'A' && c74 == 'I' && column(header, 75) == 'S'))
    return TMX_FILETYPE_IGES_COMPRESSED;
  if (c73 == 'B' && !contains(header, "ACIS")) return TMX_FILETYPE_IGES_BINARY;
  return TMX_FILETYPE_UNKNOWN;
}

// Reads an optionally signed decimal integer at `i`; false when there is none or it does not fit
// in 32 bits.
bool read_integer(std::span<const uint8_t> text, std::size_t &i, int32_t *value) {
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digits = i;
  int64_t magnitude = 0;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) return false;
  }
  if (i == digits) return false;
  const int64_t v = negative ? -magnitude : magnitude;
  if (v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// True when the header, read as text (up to a NUL byte), begins with four integers separated by
// white space; the first one goes to *first.
bool four_integers(std::span<const uint8_t> header, int32_t *first) {
  const auto nul = std::find(header.begin(), header.end(), uint8_t{0});
  const std::span<const uint8_t> text = header.first(static_cast<std::size_t>(nul - header.begin()));
  std::size_t i = 0;
  for (int k = 0; k < 4; ++k) {
    const std::size_t before = i;
    while (i < text.size() && is_space(text[i])) ++i;
    if (k > 0 && i == before) return false;
    int32_t value = 0;
    if (!read_integer(text, i, &value)) return false;
    if (k == 0) *first = value;
  }
  return true;
}

// True when the header text after offset `end` (white space skipped) starts with "BinaryFile".
bool binary_file_follows(std::span<const uint8_t> header, uint64_t end) {
  if (end > header.size()) return false;
  std::size_t i = static_cast<std::size_t>(end);
  while (i < header.size() && is_space(header[i])) ++i;
  constexpr std::string_view kWord = "BinaryFile";
  return header.size() - i >= kWord.size() && std::memcmp(header.data() + i, kWord.data(), kWord.size()) == 0;
}

// atoi() of a token, saturated to 32 bits.
int32_t token_integer(std::string_view token) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  int64_t magnitude = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i)
    magnitude = std::min<int64_t>(magnitude * 10 + (token[i] - '0'), int64_t{INT32_MAX} + 1);
  const int64_t v = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

template <std::size_t N>
void copy_token(std::string_view token, std::array<char, N> &field) {
  static_assert(N > TokenReader::kTokenLimit);
  field.fill('\0');
  std::memcpy(field.data(), token.data(), token.size());
}

// The line end of the first record: from `start`, printable bytes are skipped up to byte 159; the
// first other byte starts the line end, which runs over the following non-printable bytes below
// 0x80 up to byte 159. No line end when the printable run reaches byte 159 or the end of the file.
void find_line_end(std::span<const uint8_t> header, std::size_t start, FileTypeFacts &facts) {
  const std::size_t last = std::min<std::size_t>(header.size(), 159);
  std::size_t i = start;
  while (i < last && is_printable(header[i])) ++i;
  if (i >= last) return;
  std::size_t j = i + 1;
  while (j < header.size() && !is_printable(header[j]) && header[j] < 0x80) ++j;
  facts.line_end_count = static_cast<int32_t>(j - i);
  std::copy(header.begin() + static_cast<std::ptrdiff_t>(i),
            header.begin() + static_cast<std::ptrdiff_t>(j), facts.line_end.begin());
}

// The schema names of a STEP header: tokens after FILE_SCHEMA up to ENDSEC, the ';' that ends the
// entry, or the fifth name. False when the file ends first.
Result read_schema_names(TokenReader &reader, FileTypeFacts &facts) {
  bool in_entry = false;
  for (;;) {
    Result r = reader.next();
    if (r != Result::kToken) return r;
    std::string_view token = reader.token();
    if (token.find("ENDSEC"sv) != std::string_view::npos) return r;
    if (token == ";"sv && facts.schema_count > 0) return r;
    if (in_entry) {
      copy_token(token, facts.schema_names[static_cast<std::size_t>(facts.schema_count)]);
      if (++facts.schema_count == TMX_STEP_SCHEMA_COUNT) return r;
    } else if (token == "FILE_SCHEMA"sv) {
      in_entry = true;
    }
  }
}

// The four tokens after BEGIN_MODEL.
Result read_model_header(TokenReader &reader, FileTypeFacts &facts) {
  for (int k = 0; k < 4; ++k) {
    Result r = reader.next();
    if (r != Result::kToken) return r;
    const std::string_view token = reader.token();
    switch (k) {
      case 0: facts.model_number = token_integer(token); break;
      case 1: copy_token(token, facts.model_name); break;
      case 2: facts.version = token_integer(token); break;
      default: facts.release = token_integer(token); break;
    }
  }
  return Result::kToken;
}

// The token contains "VDAFS" (tokens are short: a plain loop beats a library search).
bool contains_vdafs(std::string_view token) {
  for (std::size_t i = 0; i + 5 <= token.size(); ++i)
    if (token[i] == 'V' && token[i + 1] == 'D' && token[i + 2] == 'A' && token[i + 3] == 'F' &&
        token[i + 4] == 'S')
      return true;
  return false;
}

constexpr std::string_view kAp242Sequence[] = {"AP242", "BO", "Model", "XML", "Assembly"};

// What a token must start with or hold for a test that still applies once the type is unknown
// past the fifth token, for each place in the AP242 sequence: ISO-10303-21;, BEGIN_MODEL, "0",
// AutoCAD and AC10 start with one of I B 0 A, the next AP242 word with its own first letter; VDAFS
// holds a V anywhere; '/' and the quote change how tokens are cut.
constexpr std::array<uint8_t, 256> make_marks(std::string_view next_word) {
  std::array<uint8_t, 256> marks{};
  for (char c : {'I', 'A', 'B', '0', next_word[0]})
    marks[static_cast<uint8_t>(c)] = TokenReader::kMarkedFirst;
  for (char c : {'V', '/', '\''}) marks[static_cast<uint8_t>(c)] = TokenReader::kMarkedAnywhere;
  return marks;
}
constexpr std::array<std::array<uint8_t, 256>, std::size(kAp242Sequence)> kMarks = {
    make_marks(kAp242Sequence[0]), make_marks(kAp242Sequence[1]), make_marks(kAp242Sequence[2]),
    make_marks(kAp242Sequence[3]), make_marks(kAp242Sequence[4])};

// Whether a token can stop the loop of a file of no known type past its fifth token (`context`
// points to the place in the AP242 sequence).
bool may_decide(std::string_view token, const void *context) {
  const std::size_t sequence = *static_cast<const std::size_t *>(context);
  return token == "ISO-10303-21;"sv || token == kAp242Sequence[sequence] || contains_vdafs(token) ||
         token == "BEGIN_MODEL"sv || token == "0"sv || token == "AutoCAD"sv ||
         token.starts_with("AC10"sv);
}

// The token loop. Returns how it ended: kToken when a test stopped it, kEnd at the end of the
// file, kError on a read error.
Result token_loop(TokenReader &reader, FileTypeFacts &facts, bool skip) {
  std::span<const uint8_t> header = reader.header();
  int32_t &type = facts.type;
  std::size_t sequence = 0;
  for (int32_t count = 1;; ++count) {
    // From the sixth token of a file of no known type on, the count no longer matters and only
    // tokens marked by kMarks can stop the loop: the others are skipped.
    if (skip && count > 5 && type == TMX_FILETYPE_UNKNOWN)
      reader.skip_unmarked(kMarks[sequence], may_decide, &sequence);
    Result r = reader.next();
    if (r != Result::kToken) return r;
    std::string_view token = reader.token();
    if (token == "ISO-10303-21;"sv) {
      type = TMX_FILETYPE_STEP;
      return r;
    }
    if (token == kAp242Sequence[sequence] && ++sequence == std::size(kAp242Sequence)) {
      type = TMX_FILETYPE_AP242_XML;
      return r;
    }
    if (type == TMX_FILETYPE_UNKNOWN && contains_vdafs(token)) {
      type = TMX_FILETYPE_VDAFS;
      return r;
    }
    if (count <= 4 && type != TMX_FILETYPE_IGES && (token == "HEADER"sv || token == "header"sv))
      type = TMX_FILETYPE_VDAFS;
    if (type == TMX_FILETYPE_VDAFS && count > 100) return r;
    if (token == "BEGIN_MODEL"sv) {
      type = TMX_FILETYPE_MODEL;
      return r;
    }
    // A DXF group code 0 or the binary DXF sentinel: the next token decides, and when it does not,
    // the remaining tests look at it instead.
    if (token == "0"sv) {
      if ((r = reader.next()) != Result::kToken) return r;
      token = reader.token();
      if (token == "SECTION"sv) {
        type = TMX_FILETYPE_DXF;
        return r;
      }
    }
    if (token == "AutoCAD"sv) {
      if ((r = reader.next()) != Result::kToken) return r;
      token = reader.token();
      if (token == "Binary"sv) {
        type = TMX_FILETYPE_DXF_BINARY;
        return r;
      }
    }
    if (token.starts_with("AC10"sv)) {
      type = TMX_FILETYPE_DWG;
      return r;
    }
    if (count == 5 && type == TMX_FILETYPE_UNKNOWN && four_integers(header, &facts.first_integer)) {
      type = TMX_FILETYPE_ACIS_TEXT;
      return r;
    }
    if (count == 1 && token.starts_with("ACIS"sv) && binary_file_follows(header, reader.token_end())) {
      type = TMX_FILETYPE_ACIS_BINARY;
      return r;
    }
    if (count == 20 && (type == TMX_FILETYPE_IGES || type == TMX_FILETYPE_IGES_COMPRESSED ||
                        type == TMX_FILETYPE_IGES_BINARY))
      return r;
  }
}

int64_t read_from_descriptor(void *context, uint8_t *buffer, std::size_t size) {
  return file_type_read(*static_cast<int *>(context), buffer, size);
}

// How the open, the reads and the close went; no messages yet.
struct Outcome {
  enum class Open { kOk, kBadName, kNotFound, kError } open = Open::kOk;
  bool close_failed = false;
  FileTypeFacts facts;
};

Outcome examine(const char *file_name) {
  Outcome outcome;
  if (file_name == nullptr || file_name[0] == '\0') {
    outcome.open = Outcome::Open::kBadName;
    return outcome;
  }
  // Opening a FIFO cannot hold the caller; only regular files are read.
  const int fd = platform::open_for_reading(file_name);
  if (fd < 0) {
    outcome.open = errno == ENOENT ? Outcome::Open::kNotFound : Outcome::Open::kError;
    return outcome;
  }
  platform::FileStatus status;
  if (!platform::stat_descriptor(fd, &status) || status.kind != platform::FileKind::kRegular) {
    outcome.open = Outcome::Open::kError;
  } else {
    // Small files get a buffer of their size; large ones are read in large pieces.
    const auto capacity = static_cast<std::size_t>(std::clamp<int64_t>(
        status.size + 1, kSmallestBuffer, static_cast<int64_t>(kLargestBuffer)));
    auto *buffer = static_cast<uint8_t *>(file_type_malloc(capacity));
    if (buffer == nullptr) {
      outcome.facts.failure = Failure::kNoMemory;
    } else {
      int context = fd;
      outcome.facts = detect_file_type(ByteSource{read_from_descriptor, &context}, buffer, capacity);
      std::free(buffer);
    }
  }
  outcome.close_failed = platform::close_descriptor(fd) != 0;
  return outcome;
}

// The result block of the facts (null for the types without one); false when memory ran out.
bool make_block(const FileTypeFacts &facts, void **block) {
  *block = nullptr;
  switch (facts.type) {
    case TMX_FILETYPE_ACIS_TEXT:
    case TMX_FILETYPE_DXF:
    case TMX_FILETYPE_DXF_BINARY:
    case TMX_FILETYPE_DWG: {
      auto *value = static_cast<tmx_FileTypeValue *>(file_type_malloc(sizeof(tmx_FileTypeValue)));
      if (value == nullptr) return false;
      value->value = facts.type == TMX_FILETYPE_ACIS_TEXT ? facts.first_integer : 0;
      *block = value;
      return true;
    }
    case TMX_FILETYPE_IGES: {
      auto *iges = static_cast<tmx_FileTypeIges *>(file_type_malloc(sizeof(tmx_FileTypeIges)));
      if (iges == nullptr) return false;
      const auto n = static_cast<std::size_t>(facts.line_end_count);
      iges->line_end = nullptr;
      if (n > 0) {
        iges->line_end = static_cast<char *>(file_type_malloc(n + 1));
        if (iges->line_end == nullptr) {
          std::free(iges);
          return false;
        }
        std::memcpy(iges->line_end, facts.line_end.data(), n);
        iges->line_end[n] = '\0';
      }
      iges->record_length = 80 + facts.line_end_count;
      iges->line_end_count = facts.line_end_count;
      *block = iges;
      return true;
    }
    case TMX_FILETYPE_MODEL: {
      auto *model = static_cast<tmx_FileTypeModel *>(file_type_malloc(sizeof(tmx_FileTypeModel)));
      if (model == nullptr) return false;
      std::memset(model, 0, sizeof *model);
      model->model_number = facts.model_number;
      std::memcpy(model->schema_name, facts.model_name.data(), facts.model_name.size());
      model->version = facts.version;
      model->release = facts.release;
      *block = model;
      return true;
    }
    case TMX_FILETYPE_STEP: {
      auto *step = static_cast<tmx_FileTypeStep *>(file_type_malloc(sizeof(tmx_FileTypeStep)));
      if (step == nullptr) return false;
      std::memset(step, 0, sizeof *step);
      step->schema_count = facts.schema_count;
      for (std::size_t k = 0; k < TMX_STEP_SCHEMA_COUNT; ++k)
        std::memcpy(step->schema_names[k], facts.schema_names[k].data(), facts.schema_names[k].size());
      *block = step;
      return true;
    }
    case TMX_FILETYPE_VDAFS: {
      auto *vdafs = static_cast<tmx_FileTypeVdafs *>(file_type_malloc(sizeof(tmx_FileTypeVdafs)));
      if (vdafs == nullptr) return false;
      std::memset(vdafs, 0, sizeof *vdafs);
      for (std::size_t k = 0; k < 2 && k < static_cast<std::size_t>(facts.line_end_count); ++k)
        vdafs->line_end[k] = static_cast<char>(facts.line_end[k]);
      vdafs->line_end_count = facts.line_end_count;
      *block = vdafs;
      return true;
    }
    default:
      return true;
  }
}

void free_block(int32_t type, void *block) {
  if (block != nullptr && type == TMX_FILETYPE_IGES)
    std::free(static_cast<tmx_FileTypeIges *>(block)->line_end);
  std::free(block);
}

}  // namespace

int64_t (*file_type_read)(int fd, void *buffer, std::size_t size) = platform::read_descriptor;
void *(*file_type_malloc)(std::size_t size) = std::malloc;

FileTypeFacts detect_file_type(const ByteSource &source, uint8_t *buffer, std::size_t capacity,
                               bool skip) {
  FileTypeFacts facts;
  TokenReader reader(source, buffer, capacity);
  Result r = Result::kToken;
  if (reader.read_header()) {
    facts.type = column_type(reader.header());
    r = token_loop(reader, facts, skip);
    // A file that ends where the lookahead of a DXF test needed a token keeps a type found
    // earlier (by column or by an early HEADER); one that ends inside the STEP header or the
    // saved-model header is not what it claimed to be.
    if (r == Result::kToken && facts.type == TMX_FILETYPE_STEP) {
      r = read_schema_names(reader, facts);
      if (r == Result::kEnd) facts.type = TMX_FILETYPE_UNKNOWN;
    } else if (r == Result::kToken && facts.type == TMX_FILETYPE_MODEL) {
      r = read_model_header(reader, facts);
      if (r == Result::kEnd) facts.type = TMX_FILETYPE_UNKNOWN;
    }
  } else {
    r = Result::kError;
  }
  if (r == Result::kError) {
    FileTypeFacts failed;
    failed.failure = Failure::kRead;
    failed.error_number = reader.error();
    return failed;
  }
  // Only the facts of the type found are kept (a test may have gathered some before another
  // test decided).
  FileTypeFacts kept;
  kept.type = facts.type;
  switch (facts.type) {
    case TMX_FILETYPE_ACIS_TEXT: kept.first_integer = facts.first_integer; break;
    case TMX_FILETYPE_STEP:
      kept.schema_count = facts.schema_count;
      kept.schema_names = facts.schema_names;
      break;
    case TMX_FILETYPE_MODEL:
      kept.model_number = facts.model_number;
      kept.model_name = facts.model_name;
      kept.version = facts.version;
      kept.release = facts.release;
      break;
    case TMX_FILETYPE_IGES: find_line_end(reader.header(), 73, kept); break;
    case TMX_FILETYPE_VDAFS: find_line_end(reader.header(), 0, kept); break;
    default: break;
  }
  return kept;
}

}  // namespace tesmar::tmx

using namespace tesmar::tmx;

extern "C" mpm_Status tmx_GetFileType(uint32_t, const char *file_name, int32_t *type, void **result) {
  if (type != nullptr) *type = TMX_FILETYPE_UNKNOWN;
  if (result != nullptr) *result = nullptr;
  const Outcome outcome = examine(file_name);
  const FileTypeFacts &facts = outcome.facts;
  const char *name = file_name != nullptr ? file_name : "";

  // Decide the status and the results first: the messages come last, with nothing held.
  enum class Issue { kNone, kBadName, kNotFound, kOpen, kRead, kMemory } issue = Issue::kNone;
  switch (outcome.open) {
    case Outcome::Open::kBadName: issue = Issue::kBadName; break;
    case Outcome::Open::kNotFound: issue = Issue::kNotFound; break;
    case Outcome::Open::kError: issue = Issue::kOpen; break;
    case Outcome::Open::kOk:
      if (facts.failure == Failure::kRead) issue = Issue::kRead;
      if (facts.failure == Failure::kNoMemory) issue = Issue::kMemory;
      break;
  }
  int32_t found = TMX_FILETYPE_UNKNOWN;
  void *block = nullptr;
  if (issue == Issue::kNone && !outcome.close_failed) {
    found = facts.type;
    if (result != nullptr && !make_block(facts, &block)) {
      issue = Issue::kMemory;
      found = TMX_FILETYPE_UNKNOWN;
    }
  }
  if (type != nullptr) *type = found;
  if (result != nullptr) *result = block;
  else free_block(found, block);

  mpm_Status status = 0;
  switch (issue) {
    case Issue::kNone: break;
    case Issue::kBadName: status = mpm_IssueMessage(0, TMX_BAD_FILENAME, MPM_ERROR); break;
    case Issue::kNotFound: status = mpm_IssueMessage(0, TMX_NOT_FOUND, MPM_ERROR, name); break;
    case Issue::kOpen: status = mpm_IssueMessage(0, TMX_OPEN_ERROR, MPM_ERROR, name); break;
    case Issue::kRead: status = mpm_IssueMessage(0, TMX_READ_ERROR, MPM_ERROR, name); break;
    case Issue::kMemory: status = mpm_IssueMessage(0, TMX_EXC_MEMORY, MPM_FATAL); break;
  }
  if (outcome.close_failed) {
    const mpm_Status closing = mpm_IssueMessage(0, TMX_CLOSE_ERROR, MPM_ERROR, name);
    if (status == 0) status = closing;
  }
  if (found == TMX_FILETYPE_UNKNOWN) mpm_IssueMessage(0, TMX_UNKNOWN_FILETYPE, MPM_WARNING, name);
  return status;
}
