// The compressed ASCII form of IGES, written out in the fixed form for the IGES reader.
//
// The compressed form: a flag record ('C' in column 73), the Start and Global records as in the
// fixed form, the data, and the Terminate record. In the data, each entity is its directory entry
// in one record, followed by its parameter data lines (columns 1-64). A directory entry record
// begins with 'D' and the entry's sequence number; then, for each field that differs from the
// previous entry's, '@', the field number (1 to 20), '_' and the value; it ends with the record
// delimiter the Global section names (';' by default), or ';' or ':' (some writers use ':'). A
// record too long for 80 columns goes on in the next line, which begins with
// '@'. Fields not given keep the previous entry's values (blank before the first entry). The
// parameter pointer and the sequence numbers (fields 2, 10 and 20) are not given: they follow from
// the order. Field 14 says how many parameter lines follow; blank or 0, the lines up to the next
// entry.
//
// Two passes over the input: the first writes the Start, Global and Directory Entry records and
// reports the faults, the second the Parameter Data and Terminate records. Both walk the input
// alike, so the pointers of the first pass are the records of the second.
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "messages.h"
#include "translate.h"

namespace tesmar::translate {
namespace {

constexpr int64_t kMaxErrors = 200;
constexpr int64_t kMaxSequence = 9999999;  // seven columns
constexpr std::size_t kLongest = 80;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Expander {
 public:
  Expander(const char *shown, std::FILE *in, std::FILE *out, IgesFile *file)
      : shown_(shown), in_(in), out_(out), file_(file), buffer_(1 << 20) {}
  // One pass; `directory`: the first (Start, Global, Directory Entry), else the second.
  void pass(bool directory);
  bool written() const { return !write_failed_; }

 private:
  bool next();  // the next line into line_; false at the end of the input
  bool entry_start() const { return line_.size() >= 2 && line_[0] == 'D' && is_digit(line_[1]); }
  // A record of the fixed form: the letter in column 73, a number (or blanks) in 74-80.
  bool fixed_record(char letter) const {
    if (line_.size() < 73 || line_[72] != letter) return false;
    for (std::size_t i = 73; i < line_.size(); ++i)
      if (!is_digit(line_[i]) && line_[i] != ' ') return false;
    return true;
  }
  bool terminate_record() const { return fixed_record('T') && line_[0] != '@' && !entry_start(); }
  void error(const char *section, int64_t record, const std::string &what) {
    if (directory_ && ++file_->errors <= kMaxErrors)
      mpm_ReportMessage(0, TRN_IGES_RECORD, MPM_ERROR, shown_, section, static_cast<int>(record),
                        what.c_str());
  }
  void data_error(const std::string &what) { error("Data", record_ - header_, what); }
  void write(const std::string &record);
  void entry(int64_t k);

  const char *shown_;
  std::FILE *in_, *out_;
  IgesFile *file_;
  std::vector<char> buffer_;
  std::size_t at_ = 0, end_ = 0;
  bool eof_ = false, write_failed_ = false, directory_ = true;
  std::string line_;
  bool have_ = false;  // line_ holds a line not yet taken
  int64_t record_ = 0, header_ = 0;
  std::array<std::string, 20> fields_;
  int64_t parameter_lines_ = 0;  // written (or, in the first pass, counted) so far
  int64_t numbered_ = 1;         // the number the next entry should give
  std::string ends_;             // what ends a directory entry record
  int64_t counts_[2] = {0, 0};   // Start and Global records
};

bool Expander::next() {
  line_.clear();
  bool any = false, long_line = false;
  for (;;) {
    if (at_ == end_) {
      if (eof_) break;
      end_ = std::fread(buffer_.data(), 1, buffer_.size(), in_);
      at_ = 0;
      if (end_ == 0) {
        eof_ = true;
        break;
      }
    }
    any = true;
    const char *from = buffer_.data() + at_;
    const void *nl = std::memchr(from, '\n', end_ - at_);
    const std::size_t n = nl ? static_cast<std::size_t>(static_cast<const char *>(nl) - from) : end_ - at_;
    const std::size_t room = kLongest + 1 - std::min(line_.size(), kLongest + 1);
    line_.append(from, std::min(n, room));
    long_line = long_line || n > room;
    at_ += n + (nl ? 1 : 0);
    if (nl) break;
  }
  if (!any) return have_ = false;
  ++record_;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > kLongest || long_line) {
    line_.resize(kLongest);
    if (directory_ && ++file_->errors <= kMaxErrors)
      mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, shown_,
                        ("line " + std::to_string(record_) + " is longer than 80 columns; the rest is ignored").c_str());
  }
  return have_ = true;
}

void Expander::write(const std::string &record) {
  char r[kLongest + 1];
  std::memset(r, ' ', kLongest);
  std::memcpy(r, record.data(), std::min(record.size(), kLongest));
  r[kLongest] = '\n';
  if (std::fwrite(r, 1, sizeof r, out_) != sizeof r) write_failed_ = true;
}

std::string right(const std::string &v) {  // v: at most 8 characters
  return v.size() < 8 ? std::string(8 - v.size(), ' ') + v : v.substr(0, 8);
}

std::string sequence(char letter, int64_t n) {  // n at most kMaxSequence
  const std::string digits = std::to_string(n);
  return letter + std::string(7 - digits.size(), ' ') + digits;
}

// The entry k (0-based) whose record begins on the current line, and its parameter lines; on
// return the current line is the first after them.
void Expander::entry(int64_t k) {
  const int64_t de = 2 * k + 1;
  std::size_t i = 1, j = 1;
  while (j < line_.size() && is_digit(line_[j])) ++j;
  // The entries are numbered by their order; a number out of that order, or out of the previous
  // entry's, is said once.
  const std::string given(line_, i, j - i);
  const int64_t number = given.size() <= 9 ? std::stoll(given) : -1;  // leading zeros allowed
  if (number != numbered_ && number != de) {
    data_error("directory entry " + given + " where " + std::to_string(numbered_) +
               " was expected; the entries are numbered by their order");
  }
  numbered_ = number >= 0 ? number + 2 : de + 2;
  // The fields.
  std::string record = line_;
  i = j;
  for (int lines = 1;; ++lines) {
    bool ended = false;
    while (i < record.size()) {
      const char c = record[i];
      if (ends_.find(c) != std::string::npos) {
        ended = true;
        break;
      }
      if (c == ' ') {
        ++i;
        continue;
      }
      std::size_t n = i + 1;
      int field = 0;
      while (n < record.size() && n < i + 3 && is_digit(record[n])) field = field * 10 + record[n++] - '0';
      if (c != '@' || n == i + 1 || n >= record.size() || record[n] != '_' || field < 1 || field > 20) {
        data_error("no field ('@', a number 1 to 20, '_') begins at column " + std::to_string(i + 1) +
                   "; the text up to the next '@' is ignored");
        i = record.find_first_of("@" + ends_, i + 1);
        if (i == std::string::npos) i = record.size();
        continue;
      }
      std::size_t end = n + 1;
      while (end < record.size() && record[end] != '@' && ends_.find(record[end]) == std::string::npos &&
             !(record[end] == ' ' && end + 1 < record.size() && record[end + 1] == ' '))
        ++end;
      std::string value(record, n + 1, end - n - 1);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      i = end;
      if (value.size() > 8) {
        data_error("field " + std::to_string(field) + " holds more than 8 characters; it is ignored");
        continue;
      }
      if (field == 2 || field == 10 || field == 20) continue;  // they follow from the order
      fields_[field - 1] = value;
      if (field == 1 || field == 11) fields_[field == 1 ? 10 : 0] = value;  // the type, twice
    }
    if (ended) {
      next();
      break;
    }
    if (!next() || line_.empty() || line_[0] != '@' || lines == 4) {
      data_error("directory entry " + std::to_string(de) + " has no end (';', ':' or the record delimiter)");
      break;
    }
    record = line_;
    i = 0;
  }
  // The parameter lines: as many as field 14 says, or those up to the next entry.
  int64_t count = 0;
  bool counted = !fields_[13].empty();
  for (char c : fields_[13]) counted = counted && is_digit(c);
  if (counted) count = std::stoll(fields_[13]);
  const int64_t first = parameter_lines_ + 1;
  int64_t taken = 0;
  // A line that begins the next entry ends the lines of a count too large.
  const std::string after = "D" + std::to_string(de + 2);
  auto next_entry = [&] {
    return entry_start() && line_.compare(0, after.size(), after) == 0 &&
           (line_.size() == after.size() || ("@" + ends_).find(line_[after.size()]) != std::string::npos);
  };
  for (; have_ && (count > 0 ? taken < count && !next_entry() : !entry_start()) && !terminate_record();
       ++taken) {
    if (parameter_lines_ + 1 > kMaxSequence) break;
    if (!directory_) {
      std::string r = line_.substr(0, 64);
      r.resize(64, ' ');
      write(r + right(std::to_string(de)) + sequence('P', parameter_lines_ + 1));
    } else if (line_.size() > 64 && !(line_.size() >= 73 && line_[72] == 'P') &&
               line_.find_first_not_of(' ', 64) != std::string::npos) {
      data_error("parameter data beyond column 64 is ignored");
    }
    ++parameter_lines_;
    next();
  }
  if (count > 0 && taken < count)
    data_error("directory entry " + std::to_string(de) + " counts " + std::to_string(count) +
               " parameter lines; " + std::to_string(taken) + " follow it");
  if (directory_) {
    std::string r1 = right(fields_[0]) + right(std::to_string(first));
    for (int f = 2; f < 8; ++f) r1 += right(fields_[f]);
    write(r1 + right(fields_[8]) + sequence('D', de));
    std::string r2 = right(fields_[10]) + right(fields_[11]) + right(fields_[12]) +
                     right(std::to_string(taken));
    for (int f = 14; f < 19; ++f) r2 += right(fields_[f]);
    write(r2 + sequence('D', de + 1));
  }
}

void Expander::pass(bool directory) {
  directory_ = directory;
  std::rewind(in_);
  at_ = end_ = 0;
  eof_ = false;
  record_ = header_ = 0;
  parameter_lines_ = 0;
  fields_ = {};
  numbered_ = 1;
  counts_[0] = counts_[1] = 0;
  if (!next()) return;
  if (line_.size() < 73 || line_[72] != 'C')
    error("Flag", 1, "column 73 does not hold 'C'");
  next();
  // The Start and Global records, as they stand.
  std::string global;
  for (; have_ && (fixed_record('S') || fixed_record('G')); next()) {
    ++counts_[line_[72] == 'G'];
    if (line_[72] == 'G') global.append(line_, 0, 72);
    if (directory) write(line_);
  }
  char pd = ',', rd = ';';
  std::size_t rest = 0;
  global_delimiters(global, &pd, &rd, &rest);
  ends_ = ";:";
  if (rd != '@' && rd != '_' && ends_.find(rd) == std::string::npos) ends_ += rd;
  header_ = record_ - (have_ ? 1 : 0);
  int64_t k = 0;
  while (have_ && !terminate_record()) {
    if (!entry_start()) {
      data_error("no directory entry begins here; the lines up to the next are ignored");
      while (next() && !entry_start() && !terminate_record()) {
      }
      continue;
    }
    if (2 * k + 2 > kMaxSequence || parameter_lines_ >= kMaxSequence) {
      data_error("the file holds more entries than seven columns can number; the rest is ignored");
      while (next() && !terminate_record()) {
      }
      break;
    }
    entry(k++);
  }
  if (!have_ && directory_ && ++file_->errors <= kMaxErrors)
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, shown_,
                      "it has no Terminate record (the file may be truncated)");
  if (!directory)
    write(sequence('S', counts_[0]) + sequence('G', counts_[1]) + sequence('D', 2 * k) +
          sequence('P', parameter_lines_) + std::string(40, ' ') + sequence('T', 1));
  const int64_t terminate = record_;
  while (next())
    if (line_.find_first_not_of(' ') != std::string::npos) {
      error("Terminate", record_ - terminate + 1, "a line after the Terminate record is ignored");
      break;
    }
}

}  // namespace

bool expand_compressed_iges(const char *input, const char *shown, const char *output, IgesFile *file) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(input, "rb"), std::fclose);
  if (!in) {
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, shown, "it cannot be opened");
    return false;
  }
  std::FILE *out = std::fopen(output, "wb");
  bool written = out != nullptr;
  if (written) {
    Expander e(shown, in.get(), out, file);
    e.pass(true);
    e.pass(false);
    written = e.written() && std::ferror(in.get()) == 0;
    written = std::fclose(out) == 0 && written;
  }
  if (!written)
    mpm_ReportMessage(0, TRN_IGES_FILE, MPM_ERROR, shown,
                      "it could not be read and written out in the fixed form");
  return written;
}

}  // namespace tesmar::translate
