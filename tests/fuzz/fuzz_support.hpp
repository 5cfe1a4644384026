#pragma once
// Shared pieces of the fuzz targets: a failed check that aborts with a
// message (so libFuzzer keeps the input), a strict UTF-8 check written
// independently of the code under test, and a private scratch folder.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel::fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok)
    fail(what);
}

// Decodes one code point at `i` of well-formed UTF-8 (shortest form, no
// surrogates, at most U+10FFFF) and advances `i`; false when ill-formed.
inline bool next_code_point(std::string_view s, std::size_t& i, char32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t b = byte(i);
  std::size_t len;
  char32_t min;
  if (b < 0x80) {
    cp = b;
    ++i;
    return true;
  } else if ((b & 0xE0) == 0xC0) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (s.size() - i < len)
    return false;
  for (std::size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80)
      return false;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return false;
  i += len;
  return true;
}

inline bool valid_utf8(std::string_view s) {
  char32_t cp;
  for (std::size_t i = 0; i < s.size();)
    if (!next_code_point(s, i, cp))
      return false;
  return true;
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A folder of this process in $TMPDIR, else /dev/shm (memory, so files cost
// no disk writes), else the temporary folder; removed at a normal exit.
class ScratchDir {
 public:
  ScratchDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const char* tmpdir = std::getenv("TMPDIR");
    fs::path base = tmpdir != nullptr && *tmpdir != '\0' ? fs::path(tmpdir)
                    : fs::is_directory("/dev/shm", ec)   ? fs::path("/dev/shm")
                                                         : fs::temp_directory_path();
    std::string pattern = (base / "kestrel-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      fail("cannot create a scratch folder");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Removes everything inside, keeping the folder.
  void clear() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrel::fuzz
