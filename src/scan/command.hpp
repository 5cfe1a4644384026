#pragma once
// The command exchange with the TinySA: text commands ended by a carriage
// return, answers ended by the prompt "ch>".

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serial/serial_port.hpp"
#include "structs/errors.hpp"

namespace kestrel {

// Ends every answer of the instrument.
inline constexpr std::string_view reply_prompt = "ch>";

// The searcher for the prompt. One per process (reply_end_finder), shared by
// every reading loop and read-only once built.
class PromptFinder {
 public:
  PromptFinder();

  // Appends `chunk`, just read, to `received` up to the first prompt. A prompt
  // may begin in the last two bytes of `received` when its bytes came in
  // separate reads. Returns true when a prompt was found: `received` then
  // holds exactly the bytes before it, and the rest of the chunk is dropped.
  bool append_until_prompt(std::vector<std::uint8_t>& received,
                           std::span<const std::uint8_t> chunk) const;

 private:
  std::boyer_moore_horspool_searcher<const std::uint8_t*> searcher_;
};

// The shared prompt finder, built on first use (thread-safe).
const PromptFinder& reply_end_finder();

// Writes `command` with one write call; the count written is not examined.
// A failed write is SendError.
std::expected<void, AppError> write_command(serial::SerialPort& port, std::string_view command);

// The reading loop of every answer: reads into `chunk` and collects what
// comes before the prompt, until a read fails or times out (no error), or
// until more than `cap` bytes are in, which ends a device that never sends
// the prompt the way silence would. `before_chunk` gets the count received
// before each chunk that arrives.
std::vector<std::uint8_t> read_until_prompt(
    serial::SerialPort& port, std::span<std::uint8_t> chunk, std::uint64_t cap,
    const std::function<void(std::uint64_t)>& before_chunk = {});

// Collects one answer: everything before the prompt, or everything received
// until a read fails or times out, or until more than 1 MiB is in (a device
// that never sends the prompt). A failed read is not an error.
std::vector<std::uint8_t> read_reply(serial::SerialPort& port);

// Writes `command`, waits `wait`, reads the answer, pauses (ScanPacing's
// reply_pause) and returns the answer as lossily decoded UTF-8 text. A failed
// write is SendError, with neither wait nor read.
std::expected<std::string, AppError> send_command(serial::SerialPort& port,
                                                  std::string_view command,
                                                  std::chrono::milliseconds wait);

}  // namespace kestrel
