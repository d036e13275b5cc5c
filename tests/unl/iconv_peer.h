// glibc iconv as the trusted peer of the UTF conversions.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace tesmar::test {

// The result of one iconv conversion: ok, the output bytes, and on failure the input offset (in
// bytes) of the sequence iconv stopped at.
struct IconvResult {
  bool ok = false;
  std::string out;
  std::size_t error_at = 0;
};

inline IconvResult iconv_convert(const char *from, const char *to, const std::string &in) {
  IconvResult result;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return result;
  std::string out(in.size() * 4 + 16, '\0');
  char *src = const_cast<char *>(in.data());
  char *dst = out.data();
  std::size_t src_left = in.size(), dst_left = out.size();
  std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  if (r != static_cast<std::size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dst_left);
  result.ok = r != static_cast<std::size_t>(-1) && src_left == 0;
  result.error_at = static_cast<std::size_t>(src - in.data());
  out.resize(out.size() - dst_left);
  result.out = out;
  iconv_close(cd);
  return result;
}

}  // namespace tesmar::test
