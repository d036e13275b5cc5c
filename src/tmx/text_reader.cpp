// The text reader: buffered bytes, UTF-8 characters, and characters with line ends folded.
//
// A reader holds a 64 KiB buffer; `position` and `end` delimit the bytes not yet consumed, and
// `byte_count` counts every byte handed out. A byte that turns out not to continue a UTF-8
// sequence is given back by stepping `position` back one byte: it was the last byte handed out,
// so it is still in the buffer. A whole character read ahead by the line-end logic waits in
// `pushed_back` and is the next character returned.
#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"
#include "tmx/tmx_internal.h"

namespace {

void reset(tmx_TextReader *reader) {
  reader->byte_count = 0;
  reader->line = 1;
  reader->column = 0;
  reader->buffer = nullptr;
  reader->position = nullptr;
  reader->end = nullptr;
  reader->stream = nullptr;
  reader->pushed_back = -1;
  reader->error = 0;
}

void unread_byte(tmx_TextReader *reader) {
  --reader->position;
  --reader->byte_count;
}

}  // namespace

namespace platform = tesmar::platform;

extern "C" {

int32_t tmx_OpenTextReader(tmx_TextReader *reader, const char *file_name) {
  if (reader == nullptr) {
    errno = EINVAL;
    return 0;
  }
  reset(reader);
  FILE *stream = platform::open_stream(file_name, "rb");
  if (stream == nullptr) return 0;
  platform::FileStatus status;
  if (platform::stat_descriptor(fileno(stream), &status) &&
      status.kind == platform::FileKind::kDirectory) {
    std::fclose(stream);
    errno = EISDIR;
    return 0;
  }
  auto *buffer = static_cast<uint8_t *>(std::malloc(TMX_READER_BUFFER_SIZE));
  if (buffer == nullptr) {
    std::fclose(stream);
    errno = ENOMEM;
    return 0;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);  // the reader's own buffer is the only one
  reader->stream = stream;
  reader->buffer = buffer;
  reader->position = buffer;
  reader->end = buffer;
  return 1;
}

int32_t tmx_CloseTextReader(tmx_TextReader *reader) {
  if (reader == nullptr) return 1;
  int32_t result = 1;
  if (reader->stream != nullptr && std::fclose(reader->stream) != 0) result = 0;
  std::free(reader->buffer);
  reset(reader);
  return result;
}

int32_t tmx_ReadByte(tmx_TextReader *reader) {
  if (reader == nullptr) return -1;
  if (reader->position == reader->end) {
    if (reader->stream == nullptr || reader->buffer == nullptr) return -1;
    std::size_t n = std::fread(reader->buffer, 1, TMX_READER_BUFFER_SIZE, reader->stream);
    if (n == 0) {
      if (std::ferror(reader->stream)) {
        reader->error = errno != 0 ? errno : EIO;
        std::clearerr(reader->stream);
      }
      return -1;
    }
    reader->position = reader->buffer;
    reader->end = reader->buffer + n;
  }
  ++reader->byte_count;
  return *reader->position++;
}

int32_t tmx_ReadUTF8Char(tmx_TextReader *reader) {
  if (reader == nullptr) return -1;
  if (reader->pushed_back != -1) {
    int32_t c = reader->pushed_back;
    reader->pushed_back = -1;
    return c;
  }
  int32_t lead = tmx_ReadByte(reader);
  if (lead < 0x80) return lead;  // also -1 at the end
  if (lead < 0xC0 || lead >= 0xF8) return 0xFFFD;
  int more = lead >= 0xF0 ? 3 : (lead >= 0xE0 ? 2 : 1);
  int32_t code = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    int32_t next = tmx_ReadByte(reader);
    if (next < 0) return 0xFFFD;
    if ((next & 0xC0) != 0x80) {
      unread_byte(reader);  // it starts the next character
      return 0xFFFD;
    }
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr int32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[more] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
    return 0xFFFD;
  return code;
}

int32_t tmx_ReadChar(tmx_TextReader *reader) {
  if (reader == nullptr) return -1;
  int32_t c = tmx_ReadUTF8Char(reader);
  for (;;) {
    if (c == '\n') {
      int32_t next = tmx_ReadUTF8Char(reader);
      if (next != '\r') reader->pushed_back = next;
      ++reader->line;
      reader->column = 0;
      return '\n';
    }
    if (c == '\r') {
      int32_t next = tmx_ReadUTF8Char(reader);
      if (next == '\n') {
        ++reader->line;
        reader->column = 0;
        return '\n';
      }
      if (next == '\r') continue;  // of two CRs in a row the first is dropped
      reader->pushed_back = next;
    } else if (c == 0x1A) {
      // The end-of-file mark that some systems write after the last line.
      int32_t next = tmx_ReadUTF8Char(reader);
      if (next == -1)
        c = -1;
      else
        reader->pushed_back = next;
    }
    ++reader->column;
    return c;
  }
}

}  // extern "C"
