// The binary schema file: a 36-byte preamble, the 456-byte header, then named sections, padded
// with zeros to whole 32768-byte pages (docs/ddf-format.md).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ddl.h"

namespace tesmar::ddl {
namespace {

template <typename T>
void put(std::vector<uint8_t> *out, const T &value) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(&value);
  out->insert(out->end(), bytes, bytes + sizeof(T));
}

template <typename T>
std::vector<uint8_t> bytes_of(const std::vector<T> &values) {
  std::vector<uint8_t> out;
  for (const T &v : values) put(&out, v);
  return out;
}

// A text section: `stride`-byte entries whose 8-byte pointer at `at` holds the offset of its text
// from the start of the section; the texts follow the entries. `fill` writes the rest of an entry.
template <typename Fill>
std::vector<uint8_t> text_section(const std::vector<std::string> &texts, std::size_t stride,
                                  std::size_t at, Fill fill) {
  std::vector<uint8_t> out(texts.size() * stride, 0);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    fill(i, out.data() + i * stride);
    uint64_t offset = out.size();
    std::memcpy(out.data() + i * stride + at, &offset, sizeof offset);
    out.insert(out.end(), texts[i].begin(), texts[i].end());
    out.push_back(0);
  }
  return out;
}

std::vector<uint8_t> text_section(const std::vector<std::string> &texts) {
  return text_section(texts, 8, 0, [](std::size_t, uint8_t *) {});
}

template <typename T>
void set_header(RawFile *raw, std::size_t offset, T value) {
  std::memcpy(raw->header.data() + offset, &value, sizeof value);
}

}  // namespace

RawFile to_raw(const Image &img) {
  RawFile raw;
  std::memcpy(raw.signature.data(), DDF_SIGNATURE, sizeof DDF_SIGNATURE);
  std::memcpy(raw.header.data(), img.db_name.data(), std::min<std::size_t>(img.db_name.size(), 191));
  set_header(&raw, offsetof(ddf_Schema, db_version), img.version);
  set_header(&raw, offsetof(ddf_Schema, db_release), img.release);
  set_header(&raw, offsetof(ddf_Schema, attr_count), static_cast<int32_t>(img.attr_names.size()));
  set_header(&raw, offsetof(ddf_Schema, ptr_count), static_cast<int32_t>(img.ptr_names.size()));
  set_header(&raw, offsetof(ddf_Schema, vdesc_count), static_cast<int32_t>(img.vdescs.size()));
  set_header(&raw, offsetof(ddf_Schema, opcode_count), static_cast<int32_t>(img.opcodes.size()));
  set_header(&raw, offsetof(ddf_Schema, tf_count), static_cast<int32_t>(img.typeforms.size()));
  set_header(&raw, offsetof(ddf_Schema, fld_name_count), static_cast<int32_t>(img.fld_names.size()));
  set_header(&raw, offsetof(ddf_Schema, fld_desc_count), static_cast<int32_t>(img.fld_descs.size()));
  set_header(&raw, offsetof(ddf_Schema, subent_count), static_cast<int32_t>(img.subent_tfis.size()));

  std::vector<std::string> vtexts;
  for (const auto &v : img.vdescs) vtexts.push_back(v.second);
  auto vdescs = text_section(vtexts, 16, 8, [&](std::size_t i, uint8_t *entry) {
    std::memcpy(entry, &img.vdescs[i].first, 4);
  });
  // Section-number order; a section with no entries is left out, except the ones every lookup uses.
  const std::pair<const char *, std::vector<uint8_t>> sections[] = {
      {"attr_names", text_section(img.attr_names)},
      {"attr_masks", bytes_of(img.attr_masks)},
      {"ptr_data", bytes_of(img.ptr_data)},
      {"ptr_names", text_section(img.ptr_names)},
      {"ptr_counts", bytes_of(img.ptr_counts)},
      {"ptr_indices", bytes_of(img.ptr_indices)},
      {"vdescs", vdescs},
      {"opcodes", bytes_of(img.opcodes)},
      {"typeforms", bytes_of(img.typeforms)},
      {"fld_names", text_section(img.fld_names)},
      {"fld_descs", text_section(img.fld_descs)},
      {"fld_data", bytes_of(img.fld_data)},
      {"fld_indices", bytes_of(img.fld_indices)},
      {"ent_names", text_section(img.ent_names)},
      {"ent_fldcnts", bytes_of(img.ent_fldcnts)},
      {"ent_descs", text_section(img.ent_descs)},
      {"ent_uattrs", bytes_of(img.ent_uattrs)},
      {"ent_sizes", bytes_of(img.ent_sizes)},
      {"ent_info", bytes_of(img.ent_info)},
      {"subent_tfis", bytes_of(img.subent_tfis)},
  };
  static const std::string kAlways[] = {"typeforms",   "fld_data",  "fld_indices", "ent_names",
                                        "ent_fldcnts", "ent_sizes", "ent_info"};
  for (const auto &[name, data] : sections) {
    bool always = std::find(std::begin(kAlways), std::end(kAlways), std::string(name)) != std::end(kAlways);
    if (!data.empty() || always) raw.sections.push_back({name, data});
  }
  return raw;
}

std::vector<uint8_t> serialize(const RawFile &raw, bool whole_pages) {
  std::vector<uint8_t> out(raw.signature.begin(), raw.signature.end());
  put(&out, raw.version);
  put(&out, raw.section_count.value_or(static_cast<int16_t>(raw.sections.size())));
  out.insert(out.end(), raw.header.begin(), raw.header.end());
  for (const Section &s : raw.sections) {
    char name[32] = {};
    std::memcpy(name, s.name.data(), std::min<std::size_t>(s.name.size(), sizeof name));
    out.insert(out.end(), name, name + sizeof name);
    put(&out, static_cast<int32_t>(s.data.size()));
    out.insert(out.end(), s.data.begin(), s.data.end());
  }
  if (whole_pages) out.resize((out.size() + DDF_PAGE_SIZE - 1) / DDF_PAGE_SIZE * DDF_PAGE_SIZE, 0);
  return out;
}

int64_t section_offset(const RawFile &raw, const std::string &name) {
  int64_t at = 36 + static_cast<int64_t>(sizeof(ddf_Schema));
  for (const Section &s : raw.sections) {
    if (s.name == name) return at + 36;
    at += 36 + static_cast<int64_t>(s.data.size());
  }
  return -1;
}

// The bytes go to a fresh file beside the target, which is renamed over it once they are all
// written and flushed: a failure (a full disk, say) leaves an earlier file of that name whole and
// no partial file under it. Targets that a rename would replace rather than update (a device, a
// FIFO, a symbolic link, a file with several links) are written in place.
bool write_file(const Image &image, const std::string &path, std::string *error) {
  const std::vector<uint8_t> bytes = serialize(to_raw(image));
  struct stat st;
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  const bool in_place = exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1);
  std::string temporary;
  int fd = -1;
  if (in_place) {
    fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  } else {
    for (int n = 0; n < 100 && fd < 0; ++n) {
      temporary = path + "." + std::to_string(getpid()) + "." + std::to_string(n) + "~";
      fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
  }
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  int failure = 0;
  while (done < bytes.size() && failure == 0) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else failure = n < 0 ? errno : ENOSPC;
  }
  if (failure == 0 && !in_place && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && !in_place && std::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    if (!in_place) ::unlink(temporary.c_str());
    *error = "cannot write " + path + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

}  // namespace tesmar::ddl
