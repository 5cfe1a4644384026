// load_config on arbitrary file contents. Every failure must be a value whose
// texts are valid UTF-8; every loaded record must save and load back equal.

#include <cstdint>
#include <fstream>

#include "fuzz_support.hpp"
#include "structs/config.hpp"
#include "structs/debug_form.hpp"

namespace {

using kestrel::fuzz::check;

const kestrel::fuzz::ScratchDir& scratch() {
  static const kestrel::fuzz::ScratchDir dir;
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = scratch().path() / "config.toml";
  const auto copy = scratch().path() / "saved.toml";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    check(out.good(), "writing the input file");
  }

  auto loaded = kestrel::load_config(file);
  if (!loaded) {
    check(kestrel::fuzz::valid_utf8(loaded.error().display()), "error display is valid UTF-8");
    check(kestrel::fuzz::valid_utf8(kestrel::debug_string(loaded.error())),
          "error debug form is valid UTF-8");
    return 0;
  }
  auto saved = kestrel::save_config(*loaded, copy);
  check(saved.has_value(), "a loaded record saves");
  auto reloaded = kestrel::load_config(copy);
  check(reloaded.has_value(), "a saved record loads");
  check(*reloaded == *loaded, "a saved record loads back equal");
  return 0;
}
