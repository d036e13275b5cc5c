// The IGES reader: an ASCII IGES file (fixed 80-column records ended by LF, CR LF or nothing)
// into a source model of the IGES schema. The k-th directory entry becomes entity number k, so a
// pointer (a directory entry's sequence number 2k - 1) is the handle of entity k without a table.
//
// The file is read in two passes: the first walks every record once, checking column 73 and the
// sequence numbers and noting where each section lies; the second reads each directory entry and
// its parameter data through a window over the file, makes the entity and fills it. Every fault
// is reported with its section and record or its directory entry, and the reading goes on.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "messages.h"
#include "records.h"
#include "translate.h"

namespace tesmar::translate {
namespace {

constexpr int kRecord = 80;
constexpr int64_t kMaxErrors = 200;  // located errors reported one by one; then counted only

// ---- records ----

// A window over the file: reads whole blocks, so that the mostly sequential access of both passes
// costs one read per block.
class Window {
 public:
  explicit Window(std::FILE *file) : file_(file), data_(1 << 20) {}
  // Room for a record; two in turn, so that both records of a directory entry stay readable.
  char *scratch() { return records_[turn_ ^= 1]; }
  // The bytes at [offset, offset + length) (fewer at the end of the file).
  std::string_view at(uint64_t offset, std::size_t length) {
    if (offset < start_ || offset + length > start_ + size_) {
      if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return {};
      size_ = std::fread(data_.data(), 1, data_.size(), file_);
      start_ = offset;
    }
    const std::size_t from = static_cast<std::size_t>(offset - start_);
    return {data_.data() + from, std::min(length, size_ - std::min(size_, from))};
  }

 private:
  std::FILE *file_;
  std::vector<char> data_;
  uint64_t start_ = 0;
  std::size_t size_ = 0;
  char records_[2][80];
  int turn_ = 0;
};

// Where a section's records lie: runs of consecutive records of the file.
struct Run {
  int64_t first_record, count;
};

struct Section {
  char letter;
  const char *name;
  std::vector<Run> runs;
  int64_t count = 0;
};

class Reader {
 public:
  Reader(const char *name, std::FILE *file, int32_t model, IgesFile *out)
      : name_(name), file_(file), model_(model), out_(out), window_(file), directory_(file),
        parameters_(file) {}

  bool scan();
  void global();
  void entities(ddf_Schema *schema, bool progress);

 private:
  // Record k (0-based) of the file: its 80 columns, blank-padded, read through a window.
  std::string_view record(int64_t k, Window &window);
  std::string_view record(int64_t k) { return record(k, window_); }
  std::string_view section_record(Section &s, int64_t i) {  // 0-based within the section
    // The directory entries and the parameter data are read side by side: a window each.
    Window &w = s.letter == 'D' ? directory_ : s.letter == 'P' ? parameters_ : window_;
    for (const Run &r : s.runs) {
      if (i < r.count) return record(r.first_record + i, w);
      i -= r.count;
    }
    char *blank = window_.scratch();
    std::memset(blank, ' ', kRecord);
    return {blank, kRecord};
  }
  void record_error(const Section &s, int64_t sequence, const std::string &what) {
    if (++out_->errors <= kMaxErrors)
      mpm_ReportMessage(0, TRN_IGES_RECORD, MPM_ERROR, name_, s.name, static_cast<int>(sequence),
                        what.c_str());
  }
  void entity_error(int64_t de, int type, const std::string &what) {
    if (++out_->errors <= kMaxErrors)
      mpm_ReportMessage(0, TRN_IGES_ENTITY, MPM_ERROR, name_, static_cast<int>(de), type,
                        what.c_str());
  }
  void entity(ddf_Schema *schema, int64_t k);

  const char *name_;
  std::FILE *file_;
  int32_t model_;
  IgesFile *out_;
  Window window_, directory_, parameters_;
  // Record layout: a fixed stride (81 LF, 82 CR LF, 80 nothing), or the offset of every record.
  int stride_ = 0;
  std::vector<uint64_t> offsets_;
  int64_t records_ = 0;
  Section sections_[5] = {{'S', "Start", {}}, {'G', "Global", {}}, {'D', "Directory Entry", {}},
                          {'P', "Parameter Data", {}}, {'T', "Terminate", {}}};
  char parameter_delimiter_ = ',', record_delimiter_ = ';';
};

std::string_view Reader::record(int64_t k, Window &window) {
  std::string_view v;
  if (stride_ != 0) {
    v = window.at(static_cast<uint64_t>(k) * stride_, kRecord);
  } else if (k >= 0 && k < static_cast<int64_t>(offsets_.size())) {
    const uint64_t end = k + 1 < static_cast<int64_t>(offsets_.size()) ? offsets_[k + 1] : UINT64_MAX;
    v = window.at(offsets_[k], kRecord + 2);
    v = v.substr(0, std::min<uint64_t>(v.size(), end - offsets_[k]));
    v = v.substr(0, std::min(v.find_first_of("\r\n"), v.size()));
  }
  char *r = window.scratch();
  const std::size_t n = std::min<std::size_t>(v.size(), kRecord);
  for (std::size_t i = 0; i < n; ++i) {
    const char c = v[i];
    r[i] = c == '\0' || c == '\n' || c == '\r' ? ' ' : c;
  }
  std::memset(r + n, ' ', kRecord - n);
  return {r, kRecord};
}

int64_t field_number(std::string_view v, bool *ok) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  if (v.empty()) return 0;
  if (v.front() == '+') v.remove_prefix(1);
  int64_t n = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  *ok = *ok && ec == std::errc() && end == v.data() + v.size();
  return n;
}

}  // namespace

bool global_delimiters(const std::string &text, char *pd, char *rd, std::size_t *rest) {
  auto delimiter = [&](std::size_t *at, char fallback) {  // 1Hc, or left out
    if (text.compare(*at, 2, "1H") == 0 && *at + 2 < text.size()) {
      const char c = text[*at + 2];
      *at += 3;
      return c;
    }
    return fallback;
  };
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  *pd = delimiter(&at, ',');
  if (at < text.size() && text[at] == *pd) ++at;
  while (at < text.size() && text[at] == ' ') ++at;
  *rd = delimiter(&at, ';');
  const bool usable = *pd != *rd && *pd != ' ' && *rd != ' ';
  if (!usable) *pd = ',', *rd = ';';
  if (at < text.size() && text[at] == *pd) ++at;
  *rest = at;
  return usable;
}

namespace {

// The first pass: the layout of the records, the sections and their sequence numbers.
bool Reader::scan() {
  // The layout from the first record: where its line ends.
  std::string_view head = window_.at(0, 2 * kRecord + 2);
  if (head.size() < kRecord) {
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, name_, "shorter than one 80-column record");
    return false;
  }
  const std::size_t eol = head.find('\n');
  if (eol == kRecord) stride_ = kRecord + 1;
  else if (eol == kRecord + 1 && head[kRecord] == '\r') stride_ = kRecord + 2;
  else if (eol == std::string_view::npos && head.size() >= 2 * kRecord) stride_ = kRecord;
  std::string_view last_letters = "SGDPT";
  int current = 0;
  int64_t expected[5] = {1, 1, 1, 1, 1};
  if (fseeko(file_, 0, SEEK_END) != 0) return false;
  const uint64_t size = static_cast<uint64_t>(ftello(file_));
  uint64_t offset = 0;
  for (int64_t k = 0; offset < size; ++k) {
    std::string_view r;
    if (stride_ != 0) {
      r = record(k);
      offset += stride_;
      // A record that does not end where the layout says: the rest is read line by line.
      std::string_view end = window_.at(offset - (stride_ - kRecord), stride_ - kRecord);
      if ((stride_ == kRecord + 1 && end != "\n" && offset <= size) ||
          (stride_ == kRecord + 2 && end != "\r\n" && offset <= size)) {
        for (int64_t j = 0; j < k; ++j) offsets_.push_back(static_cast<uint64_t>(j) * stride_);
        offset -= stride_;
        stride_ = 0;
        --k;
        continue;
      }
    } else {
      offsets_.push_back(offset);
      // To the end of this line.
      for (;;) {
        std::string_view chunk = window_.at(offset, 4096);
        if (chunk.empty()) {
          offset = size;
          break;
        }
        const std::size_t nl = chunk.find('\n');
        if (nl != std::string_view::npos) {
          offset += nl + 1;
          break;
        }
        offset += chunk.size();
      }
      r = record(k);
    }
    records_ = k + 1;
    const char letter = r[72];
    if (r.find_first_not_of(' ') == std::string::npos) continue;  // a blank line: nothing
    const std::size_t s = last_letters.find(letter);
    if (s == std::string_view::npos) {
      Section &here = sections_[current];
      record_error(here, here.count + 1,
                   std::string("column 73 holds '") + (letter >= ' ' && letter < 127 ? letter : '?') +
                       "', no section letter; the record is ignored");
      continue;
    }
    if (static_cast<int>(s) < current)
      record_error(sections_[s], sections_[s].count + 1, "the record comes after a later section");
    current = std::max(current, static_cast<int>(s));
    Section &section = sections_[s];
    bool ok = true;
    const int64_t sequence = field_number(std::string_view(r).substr(73, 7), &ok);
    if (!ok || sequence != expected[s])
      record_error(section, expected[s],
                   "sequence number \"" + std::string(r.substr(73, 7)) + "\" where " +
                       std::to_string(expected[s]) + " was expected");
    ++expected[s];
    if (!section.runs.empty() && section.runs.back().first_record + section.runs.back().count == k)
      ++section.runs.back().count;
    else
      section.runs.push_back({k, 1});
    ++section.count;
  }
  if (sections_[2].count == 0) {
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, name_, "it has no Directory Entry section");
    return false;
  }
  if (sections_[2].count % 2 != 0)
    record_error(sections_[2], sections_[2].count, "the section ends in the middle of an entry");
  if (sections_[4].count == 0)
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_WARNING, name_,
                      "it has no Terminate section (the file may be truncated)");
  return true;
}

// ---- parameters ----

struct Token {
  std::string_view text;
  bool string = false;  // a Hollerith string
};

// Splits free-format parameter text at the delimiters; Hollerith strings (nHtext) are taken whole.
// Stops at the record delimiter. false when a Hollerith length runs past the text.
bool tokenize(std::string_view s, char pd, char rd, std::vector<Token> *out) {
  out->clear();
  std::size_t i = 0;
  for (;;) {
    while (i < s.size() && s[i] == ' ') ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    if (j > i && j < s.size() && s[j] == 'H' && j - i <= 9) {
      std::size_t length = 0;
      std::from_chars(s.data() + i, s.data() + j, length);
      if (length > s.size() - (j + 1)) return false;
      out->push_back({s.substr(j + 1, length), true});
      i = j + 1 + length;
      while (i < s.size() && s[i] == ' ') ++i;
    } else {
      std::size_t end = i;
      while (end < s.size() && s[end] != pd && s[end] != rd) ++end;
      std::string_view t = s.substr(i, end - i);
      while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      out->push_back({t, false});
      i = end;
    }
    if (i >= s.size()) return false;  // no record delimiter: the data is cut short
    if (s[i] == rd) return true;
    if (s[i] != pd) return false;  // text after a string, before the delimiter
    ++i;
  }
}

// Numbers as IGES writes them: integers, reals with E or D exponents ("1.5D-3", "2.", ".5").
bool real(std::string_view t, double *out) {
  if (t.empty()) {
    *out = 0;
    return true;
  }
  char buffer[64];
  if (t.size() >= sizeof buffer) return false;
  std::size_t n = 0;
  for (char c : t) buffer[n++] = (c == 'D' || c == 'd') ? 'E' : c;
  const char *begin = buffer, *end = buffer + n;
  if (*begin == '+') ++begin;
  auto [stop, ec] = std::from_chars(begin, end, *out);
  return ec == std::errc() && stop == end && std::isfinite(*out);
}

// The parameters of one entity, read in order; faults are collected as text.
class Params {
 public:
  Params(const std::vector<Token> &tokens, std::string *fault) : t_(tokens), fault_(fault) {}
  std::size_t left() const { return t_.size() > i_ ? t_.size() - i_ : 0; }
  double real_at() {
    double v = 0;
    if (i_ < t_.size() && !(t_[i_].string || !real(t_[i_].text, &v))) {
    } else if (i_ < t_.size()) {
      fail("parameter " + std::to_string(i_ + 1) + " is no number");
    }
    ++i_;
    return v;
  }
  int64_t integer() {
    const double v = real_at();
    if (v != std::trunc(v) || std::fabs(v) > 2147483647.0) {
      fail("parameter " + std::to_string(i_) + " is no integer");
      return 0;
    }
    return static_cast<int64_t>(v);
  }
  std::string text() {
    std::string v;
    if (i_ < t_.size()) {
      if (t_[i_].string) v = std::string(t_[i_].text);
      else if (!t_[i_].text.empty()) fail("parameter " + std::to_string(i_ + 1) + " is no string");
    }
    ++i_;
    return v;
  }
  // A count that the remaining parameters can hold, `each` parameters per element.
  int32_t count(int each) {
    const int64_t n = integer();
    if (n < 0 || (each > 0 && n > static_cast<int64_t>(left()) / each) || n > (1 << 24)) {
      fail("the count " + std::to_string(n) + " goes beyond the data");
      return -1;
    }
    return static_cast<int32_t>(n);
  }
  void fail(const std::string &what) {
    if (fault_->empty()) *fault_ = what;
  }
  bool failed() const { return !fault_->empty(); }

 private:
  const std::vector<Token> &t_;
  std::size_t i_ = 1;  // token 0 is the entity type
  std::string *fault_;
};

// ---- the Global section ----

void Reader::global() {
  Section &g = sections_[1];
  std::string text;
  for (int64_t i = 0; i < g.count; ++i) text += section_record(g, i).substr(0, 72);
  std::size_t at = 0;
  if (!global_delimiters(text, &parameter_delimiter_, &record_delimiter_, &at))
    record_error(g, 1, "the delimiters are unusable; ',' and ';' are used");
  // Fields 3 on; field 3 is the first token here.
  std::vector<Token> tokens;
  std::string rest = "0" + std::string(1, parameter_delimiter_) + text.substr(std::min(at, text.size()));
  if (!tokenize(rest, parameter_delimiter_, record_delimiter_, &tokens)) {
    record_error(g, 1, "a string's length runs past the section");
    return;
  }
  auto field = [&](std::size_t number) -> const Token * {  // Global parameter `number` (from 3)
    const std::size_t i = number - 2;
    return i < tokens.size() ? &tokens[i] : nullptr;
  };
  double v = 0;
  if (const Token *t = field(13); t != nullptr && !t->string && real(t->text, &v) && v > 0)
    out_->model_scale = v;
  if (const Token *t = field(14); t != nullptr && !t->string && real(t->text, &v) && v >= 1 && v <= 11)
    out_->units_flag = static_cast<int>(v);
  else if (t != nullptr && !t->text.empty())
    record_error(g, 1, "the units flag is not 1 to 11; millimetres are assumed");
  if (const Token *t = field(15); t != nullptr && t->string) out_->units_name = std::string(t->text);
  // Line weights: gradations and the heaviest width; without both, weights are not translated.
  if (const Token *t = field(16); t != nullptr && !t->string && real(t->text, &v) && v >= 1 && v <= 1e6)
    out_->weight_gradations = static_cast<int>(v);
  if (const Token *t = field(17); t != nullptr && !t->string && real(t->text, &v) && v > 0)
    out_->max_weight = v;
}

// ---- the entities ----

bool supported(int type, int form, uint32_t *tf) {
  switch (type) {
    case 100: case 102: case 104: case 110: case 116: case 124: case 126: case 212: case 308:
    case 314: case 408: case 141: case 142: case 143: case 144:
      *tf = iges::tf(static_cast<uint32_t>(type));
      return true;
    case 402:  // the groups (forms 1, 7, 14, 15); the other associativities hold other things
      *tf = iges::tf(402);
      return form == 1 || form == 7 || form == 14 || form == 15;
    case 106:
      if (form == 1 || form == 2 || form == 3 || form == 11 || form == 12 || form == 13 ||
          form == 63) {
        *tf = iges::tf(106, static_cast<uint32_t>(form));
        return true;
      }
      return false;
    case 406:
      *tf = iges::tf(406, 3);
      return form == 3;
    case 504:
      *tf = iges::tf(504, 1);
      return form == 1;
    default:
      return false;
  }
}

void Reader::entities(ddf_Schema *, bool progress) {
  const int64_t count = sections_[2].count / 2;
  out_->top_level.assign(static_cast<std::size_t>(count) + 1, 0);
  const bool tty = progress && isatty(2) != 0;
  for (int64_t k = 1; k <= count; ++k) {
    entity(nullptr, k);
    if (tty && k % 100000 == 0) std::fprintf(stderr, "\rread %lld entities", static_cast<long long>(k));
  }
  if (tty && count >= 100000) std::fprintf(stderr, "\rread %lld entities\n", static_cast<long long>(count));
}

void Reader::entity(ddf_Schema *, int64_t k) {
  Section &d = sections_[2], &p = sections_[3];
  const int64_t de = 2 * k - 1;
  const std::string_view r1 = section_record(d, 2 * k - 2), r2 = section_record(d, 2 * k - 1);
  bool ok = true;
  auto f = [&](std::string_view r, int i) { return field_number(r.substr(8 * i, 8), &ok); };
  const int type = static_cast<int>(f(r1, 0));
  const int64_t pd_start = f(r1, 1), font = f(r1, 3), level = f(r1, 4), transform = f(r1, 6);
  bool status_ok = true;
  const int64_t status = field_number(r1.substr(64, 8), &status_ok);
  const int64_t weight = f(r2, 1), color = f(r2, 2), pd_count = f(r2, 3), form = f(r2, 4);
  const int64_t subscript = f(r2, 8);
  if (!ok) entity_error(de, type, "a directory field is no number");
  if (f(r2, 0) != type) entity_error(de, type, "its two records give different entity types");

  uint32_t tf = iges::kUnsupported;
  const bool known = supported(type, static_cast<int>(form), &tf);
  if (!known) tf = iges::kUnsupported;
  void *memory = nullptr;
  db_ptr handle = 0;
  if (mda_AllocateEntity(0, model_, tf, &memory, &handle) != 0) {
    entity_error(de, type, "no entity could be made for it");
    return;
  }
  if (handle != MDA_MAKE_PTR(model_, k)) entity_error(de, type, "it was numbered out of order");
  ++out_->entities;
  ++out_->read_by_type[type];
  auto *e = static_cast<IgesEntity *>(memory);
  const int64_t entries = d.count / 2;
  auto pointer = [&](int64_t v, const char *what) -> db_ptr {
    if (v == 0) return 0;
    if (v < 0 || v % 2 == 0 || (v + 1) / 2 > entries) {
      entity_error(de, type, std::string(what) + " " + std::to_string(v) + " points to no directory entry");
      return 0;
    }
    if (v == de) {
      entity_error(de, type, std::string(what) + " points to the entry itself");
      return 0;
    }
    return MDA_MAKE_PTR(model_, (v + 1) / 2);
  };
  Directory &dir = e->de;
  dir.type = type;
  dir.form = static_cast<int32_t>(form);
  dir.sequence = static_cast<int32_t>(de);
  dir.level = static_cast<int32_t>(level);
  dir.color = static_cast<int32_t>(color);
  dir.font = static_cast<int32_t>(font);
  dir.weight = static_cast<int32_t>(weight);
  dir.status = status_ok ? static_cast<int32_t>(status % 100000000) : 0;
  dir.transform = pointer(transform, "the transformation matrix pointer");
  if (color < 0) dir.color_def = pointer(-color, "the colour pointer");
  std::memcpy(dir.label, r2.data() + 56, 8);
  dir.subscript = static_cast<int32_t>(subscript);
  if (!status_ok) entity_error(de, type, "its status number is no number");
  const int blank = static_cast<int>(dir.status / 1000000), subordinate = dir.status / 10000 % 100;
  const int use = dir.status / 100 % 100;
  out_->top_level[static_cast<std::size_t>(k)] =
      blank == 0 && (subordinate == 0 || subordinate == 2) && use != 5 && type != 124 &&
      type != 314 && type != 406 && type != 141 && type != 142;
  // Edge lists are parts of solids, but their curves are the solid's wireframe: drawn on their own.
  if (type == 504) out_->top_level[static_cast<std::size_t>(k)] = blank == 0;
  if (!known) {
    ++out_->unsupported_by_type[type];
    mda_UnlockEntity(0, handle);
    return;
  }

  // The parameter data: pd_count records from pd_start, each naming this entry in columns 66-72.
  std::string text;
  std::string fault;
  if (pd_start < 1 || pd_count < 1 || pd_start > p.count || pd_count > p.count - pd_start + 1) {
    fault = "its parameter data (records " + std::to_string(pd_start) + " to " +
            std::to_string(pd_start + pd_count - 1) + ") lies outside the section";
  } else {
    text.reserve(static_cast<std::size_t>(pd_count) * 64);
    for (int64_t i = 0; i < pd_count; ++i) {
      const std::string_view r = section_record(p, pd_start - 1 + i);
      bool back_ok = true;
      if (field_number(r.substr(65, 7), &back_ok) != de || !back_ok) {
        fault = "parameter record " + std::to_string(pd_start + i) + " belongs to another entry";
        break;
      }
      text.append(r.data(), 64);
    }
  }
  std::vector<Token> tokens;
  if (fault.empty() && !tokenize(text, parameter_delimiter_, record_delimiter_, &tokens))
    fault = "a string runs past its parameter data, or the data lacks its closing delimiter";
  if (fault.empty()) {
    double t0 = -1;
    if (tokens.empty() || !real(tokens[0].text, &t0) || t0 != type)
      fault = "its parameter data begins with another entity type";
  }
  if (!fault.empty()) {
    entity_error(de, type, fault + "; the entity is not translated");
    dir.damaged = 1;
    mda_UnlockEntity(0, handle);
    return;
  }
  Params a(tokens, &fault);
  auto reals = [&](double *out, int n) {
    for (int i = 0; i < n; ++i) out[i] = a.real_at();
  };
  auto block = [&](void *slot, std::size_t bytes) {
    if (bytes == 0) return true;
    if (mda_Malloc(0, memory, static_cast<uint32_t>(bytes), slot) == 0) return true;
    a.fail("no memory for its data");
    return false;
  };
  auto pointers = [&](db_ptr **slot, int32_t n, const char *what) {
    if (n <= 0 || !block(slot, sizeof(db_ptr) * static_cast<std::size_t>(n))) return;
    for (int32_t i = 0; i < n; ++i) (*slot)[i] = pointer(a.integer(), what);
  };
  switch (type) {
    case 100: {
      auto *x = static_cast<IgesArc *>(e);
      x->zt = a.real_at();
      reals(x->center, 2), reals(x->start, 2), reals(x->end, 2);
      break;
    }
    case 102: {
      auto *x = static_cast<IgesComposite *>(e);
      const int32_t n = a.count(1);
      if (n > 0) x->n = n, pointers(&x->curves, n, "a curve pointer");
      break;
    }
    case 104: {
      auto *x = static_cast<IgesConic *>(e);
      reals(x->coefficients, 6);
      x->zt = a.real_at();
      reals(x->start, 2), reals(x->end, 2);
      break;
    }
    case 106: {
      auto *x = static_cast<IgesCopious *>(e);
      const int64_t ip = a.integer();
      const int each = ip == 1 ? 2 : ip == 2 ? 3 : ip == 3 ? 6 : 0;
      if (each == 0) {
        a.fail("the interpretation flag " + std::to_string(ip) + " is not 1, 2 or 3");
        break;
      }
      const int32_t n = a.count(each);
      if (n <= 0) break;
      const double z = ip == 1 ? a.real_at() : 0;
      if (!block(&x->points, sizeof(double[3]) * static_cast<std::size_t>(n))) break;
      x->n = n;
      for (int32_t i = 0; i < n; ++i) {
        x->points[i][0] = a.real_at(), x->points[i][1] = a.real_at();
        x->points[i][2] = ip == 1 ? z : a.real_at();
        if (ip == 3) a.real_at(), a.real_at(), a.real_at();
      }
      break;
    }
    case 110: {
      auto *x = static_cast<IgesLine *>(e);
      reals(x->start, 3), reals(x->end, 3);
      break;
    }
    case 116: {
      auto *x = static_cast<IgesPoint *>(e);
      reals(x->at, 3);
      if (a.left() > 0) x->symbol = pointer(a.integer(), "the symbol pointer");
      break;
    }
    case 124: {
      auto *x = static_cast<IgesMatrix *>(e);
      for (int i = 0; i < 3; ++i) reals(x->r[i], 3), x->t[i] = a.real_at();
      break;
    }
    case 126: {
      auto *x = static_cast<IgesBspline *>(e);
      const int64_t upper = a.integer(), degree = a.integer();
      if (upper < 0 || degree < 1 || upper > (1 << 22) || degree > 64 ||
          static_cast<uint64_t>(upper + degree + 2 + 4 * (upper + 1)) > a.left()) {
        a.fail("its upper index " + std::to_string(upper) + " and degree " +
               std::to_string(degree) + " go beyond the data");
        break;
      }
      x->degree = static_cast<int32_t>(degree);
      x->planar = static_cast<int32_t>(a.integer()), x->closed = static_cast<int32_t>(a.integer());
      x->polynomial = static_cast<int32_t>(a.integer()), x->periodic = static_cast<int32_t>(a.integer());
      const auto nk = static_cast<int32_t>(upper + degree + 2), nc = static_cast<int32_t>(upper + 1);
      if (!block(&x->knots, sizeof(double) * nk) || !block(&x->weights, sizeof(double) * nc) ||
          !block(&x->control, sizeof(double[3]) * nc))
        break;
      x->nknots = nk, x->ncontrol = nc;
      reals(x->knots, nk), reals(x->weights, nc);
      for (int32_t i = 0; i < nc; ++i) reals(x->control[i], 3);
      reals(x->range, 2);
      if (a.left() >= 3) reals(x->normal, 3);
      break;
    }
    case 212: {
      auto *x = static_cast<IgesNote *>(e);
      const int32_t n = a.count(12);
      if (n <= 0 || !block(&x->strings, sizeof(IgesNoteString) * static_cast<std::size_t>(n))) break;
      x->n = n;
      for (int32_t i = 0; i < n; ++i) {
        IgesNoteString &s = x->strings[i];
        a.integer();  // the character count: the string says it
        s.width = a.real_at(), s.height = a.real_at();
        s.font = static_cast<int32_t>(a.integer());
        s.slant = a.real_at(), s.rotation = a.real_at();
        s.mirror = static_cast<int32_t>(a.integer());
        a.integer();  // horizontal or vertical
        reals(s.at, 3);
        const std::string t = a.text();
        if (mda_SetString(0, memory, t.c_str(), &s.text) != 0) a.fail("no memory for its text");
      }
      break;
    }
    case 308: {
      auto *x = static_cast<IgesSubfigure *>(e);
      x->depth = static_cast<int32_t>(a.integer());
      const std::string name = a.text();
      mda_SetString(0, memory, name.c_str(), &x->name);
      const int32_t n = a.count(1);
      if (n > 0) x->n = n, pointers(&x->members, n, "a member pointer");
      break;
    }
    case 314: {
      auto *x = static_cast<IgesColor *>(e);
      reals(x->rgb, 3);
      if (a.left() > 0) {
        const std::string name = a.text();
        mda_SetString(0, memory, name.c_str(), &x->name);
      }
      break;
    }
    case 402: {
      auto *x = static_cast<IgesGroup *>(e);
      const int32_t n = a.count(1);
      if (n > 0) x->n = n, pointers(&x->members, n, "a member pointer");
      break;
    }
    case 406: {
      auto *x = static_cast<IgesLevelName *>(e);
      a.integer();  // the number of properties
      x->code = static_cast<int32_t>(a.integer());
      const std::string name = a.text();
      mda_SetString(0, memory, name.c_str(), &x->name);
      break;
    }
    case 408: {
      auto *x = static_cast<IgesInstance *>(e);
      x->definition = pointer(a.integer(), "the definition pointer");
      reals(x->at, 3);
      x->scale = a.left() > 0 ? a.real_at() : 1.0;
      if (x->scale == 0) x->scale = 1.0;
      break;
    }
    case 141: {
      auto *x = static_cast<IgesBoundary *>(e);
      x->kind = static_cast<int32_t>(a.integer()), x->preferred = static_cast<int32_t>(a.integer());
      x->surface = pointer(a.integer(), "the surface pointer");
      const int32_t n = a.count(3);
      if (n <= 0 || !block(&x->curves, sizeof(db_ptr) * static_cast<std::size_t>(n))) break;
      x->n = n;
      for (int32_t i = 0; i < n && !a.failed(); ++i) {
        x->curves[i] = pointer(a.integer(), "a curve pointer");
        a.integer();  // sense
        const int32_t k2 = a.count(1);
        for (int32_t j = 0; j < k2; ++j) a.integer();  // parameter-space curves
      }
      break;
    }
    case 142: {
      auto *x = static_cast<IgesCurveOnSurface *>(e);
      x->how = static_cast<int32_t>(a.integer());
      x->surface = pointer(a.integer(), "the surface pointer");
      x->parameter_curve = pointer(a.integer(), "the parameter curve pointer");
      x->model_curve = pointer(a.integer(), "the model curve pointer");
      x->preferred = static_cast<int32_t>(a.integer());
      break;
    }
    case 143: {
      auto *x = static_cast<IgesBoundedSurface *>(e);
      x->kind = static_cast<int32_t>(a.integer());
      x->surface = pointer(a.integer(), "the surface pointer");
      const int32_t n = a.count(1);
      if (n > 0) x->n = n, pointers(&x->boundaries, n, "a boundary pointer");
      break;
    }
    case 144: {
      auto *x = static_cast<IgesTrimmedSurface *>(e);
      x->surface = pointer(a.integer(), "the surface pointer");
      x->outer_is_boundary = static_cast<int32_t>(a.integer());
      const int64_t n2 = a.integer();
      x->outer = pointer(a.integer(), "the outer boundary pointer");
      if (n2 < 0 || n2 > static_cast<int64_t>(a.left())) {
        a.fail("the count " + std::to_string(n2) + " goes beyond the data");
        break;
      }
      if (n2 > 0) x->n = static_cast<int32_t>(n2), pointers(&x->inner, x->n, "an inner boundary pointer");
      break;
    }
    case 504: {
      auto *x = static_cast<IgesEdgeList *>(e);
      const int32_t n = a.count(5);
      if (n <= 0 || !block(&x->curves, sizeof(db_ptr) * static_cast<std::size_t>(n))) break;
      x->n = n;
      for (int32_t i = 0; i < n; ++i) {
        x->curves[i] = pointer(a.integer(), "a curve pointer");
        for (int j = 0; j < 4; ++j) a.integer();  // the vertices at its ends
      }
      break;
    }
    default:
      break;
  }
  if (!fault.empty()) {
    entity_error(de, type, fault + "; the entity is not translated");
    dir.damaged = 1;
  }
  mda_UnlockEntity(MDA_MODIFIED, handle);
}

}  // namespace

bool read_iges(const char *file_name, const char *shown, int32_t model, ddf_Schema *schema,
               IgesFile *file, bool progress) {
  file->name = shown;
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> f(std::fopen(file_name, "rb"), std::fclose);
  if (!f) {
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, shown, "it cannot be opened");
    return false;
  }
  Reader reader(shown, f.get(), model, file);
  if (!reader.scan()) return false;
  reader.global();
  reader.entities(schema, progress);
  if (file->errors > kMaxErrors)
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, shown,
                      (std::to_string(file->errors - kMaxErrors) + " more errors were not shown").c_str());
  return true;
}

}  // namespace tesmar::translate
