// The frame every subcommand shares (see command.h): argument parsing, diagnostics, inputs and
// outputs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "command.h"

namespace tesmar::cli {
namespace {

const char *g_command = "";
bool g_stdout_reported = false;  // a failed write of standard output was said already

// Stands for the value `-` while the library's parser runs (it takes a value beginning with '-'
// for the next option); put back afterwards.
char g_dash_value[] = "\x7f-";

bool reads_as_number(const char *arg) {
  return arg[0] == '-' && (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

bool is_option(const char *arg) { return arg[0] == '-' && arg[1] != '\0' && !reads_as_number(arg); }

bool is_marker(const char *name) { return name[0] == '[' || name[0] == ']'; }

const ugn_Option *find_entry(const ugn_Option *table, const char *name) {
  for (const ugn_Option *e = table; e->name != nullptr; ++e)
    if (!is_marker(e->name) && std::strcmp(e->name, name) == 0) return e;
  return nullptr;
}

// The directory part of a path ("." for a bare name).
std::string directory_of(const std::string &path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool copy_stream(std::FILE *from, std::FILE *to) {
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, from)) > 0;)
    if (std::fwrite(buffer, 1, n, to) != n) return false;
  return std::ferror(from) == 0;
}

// Replaces "(errno = N)" by the system's reason and a status number after "error " ("DOF error
// 1179651") by its symbolic name.
std::string readable(std::string text) {
  for (std::size_t at = 0; (at = text.find("(errno = ", at)) != std::string::npos;) {
    char *end = nullptr;
    const long number = std::strtol(text.c_str() + at + 9, &end, 10);
    if (end == nullptr || *end != ')') {
      at += 9;
      continue;
    }
    const std::string reason = std::string("(") + std::strerror(static_cast<int>(number)) + ")";
    text.replace(at, static_cast<std::size_t>(end + 1 - (text.c_str() + at)), reason);
    at += reason.size();
  }
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (!std::isdigit(static_cast<unsigned char>(text[i])) || i < 6 || text.compare(i - 6, 6, "error ") != 0) {
      out += text[i++];
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    const unsigned long long value = std::strtoull(text.substr(i, j - i).c_str(), nullptr, 10);
    int32_t module = 0, number = 0;
    const bool is_code = j - i >= 5 && value >= 0x10000 && value <= 0xFFFFFFFFull &&
                         mpm_DecodeStatus(static_cast<mpm_Status>(value), &module, &number) == 0;
    out += is_code ? std::string(mpm_GetMessageName(static_cast<mpm_Status>(value)))
                   : text.substr(i, j - i);
    i = j;
  }
  return out;
}

}  // namespace

void set_current_command(const char *name) { g_command = name; }

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

void diag(const char *format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::fprintf(stderr, "tesmar %s: %s\n", g_command, escaped(buffer).c_str());
}

int usage_error(const char *message) {
  diag("%s", message);
  std::fprintf(stderr, "(run `tesmar %s --help` for help)\n", g_command);
  return 2;
}

int parse_args(const ugn_Option *table, const char *synopsis, int argc, char **argv, Args *args) {
  std::vector<char *> options{argv[0]};
  *args = Args{};
  bool dashdash = false;
  for (int i = 1; i < argc; ++i) {
    char *arg = argv[i];
    if (dashdash || !is_option(arg)) {
      args->operands.push_back(arg);
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      dashdash = true;
      args->before_dashdash = args->operands.size();
      continue;
    }
    options.push_back(arg);
    const ugn_Option *entry = find_entry(table, arg + 1);
    if (entry != nullptr && entry->type != nullptr && entry->type[0] != 'f' && i + 1 < argc) {
      char *value = argv[++i];
      options.push_back(std::strcmp(value, "-") == 0 ? g_dash_value : value);
    }
  }
  if (!dashdash) args->before_dashdash = args->operands.size();
  options.push_back(nullptr);
  auto count = static_cast<int32_t>(options.size() - 1);
  if (ugn_ParseCommandLine(0, table, &count, options.data()) != 0) {
    show_pending();
    // "tesmar ddl show": argv[0] is the subcommand's own word when there is one.
    std::string program = std::string("tesmar ") + g_command;
    if (std::strcmp(argv[0], g_command) != 0) program += std::string(" ") + argv[0];
    ugn_PrintUsage(0, table, program.c_str(), synopsis, nullptr);
    std::fprintf(stderr, "(run `tesmar %s --help` for help)\n", g_command);
    return 2;
  }
  for (const ugn_Option *e = table; e->name != nullptr; ++e) {
    if (is_marker(e->name) || e->value == nullptr || e->type == nullptr || e->type[0] != 's') continue;
    char *stored = nullptr;
    std::memcpy(&stored, e->value, sizeof stored);
    if (stored == g_dash_value) {
      static char dash[] = "-";
      stored = dash;
      std::memcpy(e->value, &stored, sizeof stored);
    }
  }
  // What is left are the options kept in the vector (recognised, not stored), with their values.
  for (int32_t i = 1; i < count; ++i) {
    const char *name = options[i] + 1;
    const ugn_Option *entry = find_entry(table, name);
    const char *value = nullptr;
    if (entry != nullptr && entry->type[0] != 'f' && i + 1 < count) {
      value = options[++i];
      if (value == g_dash_value) value = "-";
    }
    args->listed.emplace_back(name, value);
  }
  return 0;
}

const char *input_file(const char *operand) {
  static std::deque<std::string> copies;  // the names handed out stay valid
  if (std::strcmp(operand, "-") == 0) {
    const char *name = ugn_TempName();
    std::FILE *f = name != nullptr ? std::fopen(name, "wb") : nullptr;
    if (f == nullptr) {
      diag("standard input: cannot make a temporary copy: %s", std::strerror(errno));
      return nullptr;
    }
    const bool copied = copy_stream(stdin, f);
    if (std::fclose(f) != 0 || !copied) {
      diag("standard input: %s", std::strerror(errno != 0 ? errno : EIO));
      return nullptr;
    }
    copies.emplace_back(name);
    return copies.back().c_str();
  }
  struct stat st;
  if (::stat(operand, &st) != 0) {
    diag("%s: %s", operand, std::strerror(errno));
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    diag("%s: is a directory", operand);
    return nullptr;
  }
  const int fd = ::open(operand, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    diag("%s: %s", operand, std::strerror(errno));
    return nullptr;
  }
  ::close(fd);
  return operand;
}

Output::~Output() {
  if (!committed_ && !in_place_ && !path_.empty()) ::unlink(path_.c_str());
}

bool Output::prepare(const char *target, const std::vector<const char *> &inputs, bool force) {
  target_ = target;
  force_ = force;
  if (target_ == "-") {
    to_stdout_ = true;
    const char *name = ugn_TempName();
    if (name == nullptr) {
      diag("standard output: no temporary file name");
      return false;
    }
    path_ = name;
    return true;
  }
  struct stat out;
  const bool exists = ::stat(target, &out) == 0;
  if (exists && S_ISDIR(out.st_mode)) {
    diag("%s: is a directory", target);
    return false;
  }
  for (const char *input : inputs) {
    struct stat in;
    if (exists && input != nullptr && ::stat(input, &in) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino) {
      diag("%s: the output would overwrite the input", target);
      return false;
    }
  }
  if (exists && !S_ISREG(out.st_mode)) {
    // A device or a pipe (/dev/null, /dev/stdout) is written as it is, never replaced.
    path_ = target_;
    in_place_ = true;
    return true;
  }
  if (exists && !force) {
    diag("%s: already exists (use -f to replace it)", target);
    return false;
  }
  struct stat link;
  if (exists && ::lstat(target, &link) == 0 && S_ISLNK(link.st_mode)) {
    // A symbolic link stays: the file it names is replaced.
    char *real = ::realpath(target, nullptr);
    if (real == nullptr) {
      diag("%s: %s", target, std::strerror(errno));
      return false;
    }
    replaced_ = real;
    std::free(real);
  }
  if (replaced_.empty()) replaced_ = target_;
  const std::string dir = directory_of(replaced_);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    diag("%s: %s", target, std::strerror(errno));
    return false;
  }
  const std::size_t slash = replaced_.find_last_of('/');
  const std::string base = slash == std::string::npos ? replaced_ : replaced_.substr(slash + 1);
  for (int n = 0; n < 1000; ++n) {
    std::string name = (dir == "." && slash == std::string::npos ? "" : dir + "/") + "." + base +
                       "." + std::to_string(getpid()) + "." + std::to_string(n) + "~";
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 && errno == ENOENT) {
      path_ = std::move(name);
      return true;
    }
  }
  diag("%s: no free temporary name beside it", target);
  return false;
}

std::string Output::named(std::string text) const {
  for (std::size_t at = 0; !path_.empty() && (at = text.find(path_, at)) != std::string::npos;) {
    text = text.substr(0, at) + target_ + text.substr(at + path_.size());
    at += target_.size();
  }
  return text;
}

bool Output::commit() {
  if (in_place_) {
    committed_ = true;
    return true;
  }
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    diag("%s: nothing was written", target_.c_str());
    return false;
  }
  if (to_stdout_) {
    std::FILE *f = std::fopen(path_.c_str(), "rb");
    errno = 0;
    const bool copied = f != nullptr && copy_stream(f, stdout) && std::fflush(stdout) == 0;
    const int error = errno != 0 ? errno : EIO;
    if (f != nullptr) std::fclose(f);
    ::unlink(path_.c_str());
    committed_ = true;
    if (!copied) {
      diag("standard output: %s", std::strerror(error));
      g_stdout_reported = true;
    }
    return copied;
  }
  // Without -f the file is linked into place, which fails when one appeared meanwhile.
  const char *place = replaced_.c_str();
  int failure = 0;
  if (force_) {
    if (std::rename(path_.c_str(), place) != 0) failure = errno;
  } else if (::link(path_.c_str(), place) == 0) {
    ::unlink(path_.c_str());
  } else if (errno == EEXIST || ::lstat(place, &st) == 0) {
    diag("%s: already exists (use -f to replace it)", target_.c_str());
    return false;
  } else if (std::rename(path_.c_str(), place) != 0) {  // a file system without hard links
    failure = errno;
  }
  if (failure != 0) {
    diag("%s: %s", target_.c_str(), std::strerror(failure));
    return false;
  }
  committed_ = true;
  return true;
}

namespace {

std::string g_held_name;  // the name of a header line, waiting for its text
bool g_held_warning = false;

int frame_output(const char *line, std::FILE *stream) {
  if (stream != stderr) return std::fputs(line, stream);
  std::string text = line;
  const std::size_t open = text.find(" ("), close = text.rfind(") ***");
  if (text.rfind("*** ", 0) == 0 && open != std::string::npos && close != std::string::npos &&
      close > open) {
    g_held_name = text.substr(open + 2, close - open - 2);
    g_held_warning = text.compare(4, 7, "Warning") == 0;
    return 0;
  }
  if (!g_held_name.empty()) {
    text = std::string("tesmar ") + g_command + ": " + (g_held_warning ? "warning: " : "") +
           g_held_name + ": " + readable(text);
    g_held_name.clear();
  }
  return std::fputs(escaped(text).c_str(), stream);
}

}  // namespace

void route_library_output() { mpm_output_function = frame_output; }

int finish_stdout(int status) {
  const bool earlier = std::ferror(stdout) != 0;  // a write during the run failed
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  int error = errno;
  const bool closed = std::fclose(stdout) == 0;
  if (error == 0 && !closed) error = errno;
  if (flushed && closed && !earlier) return status;
  if (!g_stdout_reported) {
    if (error != 0) diag("standard output: %s", std::strerror(error));
    else diag("standard output: a write failed");  // the reason went with the earlier write
  }
  return status == 0 ? 1 : status;
}

void show_pending() {
  olm_List *pending = mpm_pending_list;
  for (int32_t n = pending != nullptr ? pending->count : 0; n >= 1; --n) {
    const auto *m = static_cast<const mpm_PendingMessage *>(olm_GetObject(0, pending, n));
    if (m == nullptr || m->text == nullptr) continue;
    std::string text = m->text;
    // The library's header line ("*** Error (NAME) ***") gives way to the name.
    if (text.rfind("*** ", 0) == 0) {
      const std::size_t end = text.find('\n');
      text.erase(0, end == std::string::npos ? text.size() : end + 1);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    text = readable(text);
    const char *name = mpm_GetMessageName(m->code);
    const char *kind = m->severity == MPM_WARNING ? "warning: " : (m->severity == MPM_INFO ? "note: " : "");
    // The first line carries the prefix; later lines (quoted input, carets) stand as they are.
    const std::size_t eol = text.find('\n');
    std::fprintf(stderr, "tesmar %s: %s%s: %s\n", g_command, kind, name,
                 escaped(text.substr(0, eol)).c_str());
    if (eol != std::string::npos) std::fprintf(stderr, "%s\n", escaped(text.substr(eol + 1)).c_str());
  }
  mpm_FlushPending(0);  // written: dropped, still counted
}

}  // namespace tesmar::cli
