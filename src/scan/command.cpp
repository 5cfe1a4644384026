#include "scan/command.hpp"

#include <algorithm>
#include <array>
#include <thread>

#include "scan/pacing.hpp"
#include "scan/utf8.hpp"

namespace kestrel {

namespace {

// Bytes after which an answer is cut: far above any real one (version and
// info take under 1 KiB), so a device that never sends the prompt cannot fill
// the memory.
constexpr std::size_t kMaxReplyLength = std::size_t{1} << 20;

const std::uint8_t* prompt_begin() {
  return reinterpret_cast<const std::uint8_t*>(reply_prompt.data());
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

PromptFinder::PromptFinder() : searcher_(prompt_begin(), prompt_begin() + reply_prompt.size()) {}

bool PromptFinder::append_until_prompt(std::vector<std::uint8_t>& received,
                                       std::span<const std::uint8_t> chunk) const {
  // A prompt that began in the previous reads: its first k bytes end
  // `received` and the chunk starts with the rest. The earliest start wins.
  const std::size_t carried = std::min(received.size(), reply_prompt.size() - 1);
  for (std::size_t k = carried; k > 0; --k) {
    const std::size_t missing = reply_prompt.size() - k;
    if (chunk.size() >= missing &&
        std::equal(prompt_begin(), prompt_begin() + k, received.end() - k) &&
        std::equal(prompt_begin() + k, prompt_begin() + reply_prompt.size(), chunk.begin())) {
      received.resize(received.size() - k);
      return true;
    }
  }
  const std::uint8_t* first = chunk.data();
  const std::uint8_t* last = first + chunk.size();
  const std::uint8_t* found = searcher_(first, last).first;
  received.insert(received.end(), first, found);
  return found != last;
}

const PromptFinder& reply_end_finder() {
  static const PromptFinder finder;
  return finder;
}

std::expected<void, AppError> write_command(serial::SerialPort& port, std::string_view command) {
  if (auto written = port.write(as_bytes(command)); !written) {
    return std::unexpected(AppError(app_error::SendError{std::move(written.error())}));
  }
  return {};
}

std::vector<std::uint8_t> read_until_prompt(
    serial::SerialPort& port, std::span<std::uint8_t> chunk, std::uint64_t cap,
    const std::function<void(std::uint64_t)>& before_chunk) {
  const PromptFinder& finder = reply_end_finder();
  std::vector<std::uint8_t> received;
  for (;;) {
    const auto n = port.read(chunk);
    if (!n)
      return received;  // silence or a failed read ends the answer
    if (before_chunk)
      before_chunk(received.size());
    if (finder.append_until_prompt(received, chunk.first(*n)) || received.size() > cap)
      return received;
  }
}

std::vector<std::uint8_t> read_reply(serial::SerialPort& port) {
  std::array<std::uint8_t, 256> chunk{};
  return read_until_prompt(port, chunk, kMaxReplyLength);
}

std::expected<std::string, AppError> send_command(serial::SerialPort& port,
                                                  std::string_view command,
                                                  std::chrono::milliseconds wait) {
  if (auto written = write_command(port, command); !written) {
    return std::unexpected(std::move(written.error()));
  }
  std::this_thread::sleep_for(wait);
  std::string text = decode_utf8_lossy(read_reply(port));
  std::this_thread::sleep_for(scan_pacing().reply_pause);
  return text;
}

}  // namespace kestrel
