#pragma once
// A simulated TinySA on a pseudo-terminal, for tests and for the `tinysa-sim`
// program. The simulator owns the master side and serves it on a thread of its
// own; the program under test opens the slave side, port_name(), like a serial
// device. The simulator keeps a slave descriptor open itself, so the program may
// open and close the port any number of times; it also puts the line into raw
// mode at start, so bytes pass unchanged even before the program sets it up.
//
// Dialogue: each command is a line ended by a carriage return ("\n" bytes are
// ignored). The answer is the echo "<command>\r\n", the reply text and the
// prompt "ch> ". Replies:
//   version        -> version_text
//   info           -> info_text
//   scanraw S E N  -> "{", one record per point ('x', level code low byte,
//                     high byte), "}"; level in dBm = code / 32 - 128
//   repeat, zero, marker, pause, mode, sweep, scan, resume -> empty reply
//   anything else  -> "<first word>?\r\n"
// Every command is recorded, without its carriage return, in arrival order.
// Faults on request (Behaviour): garbage before every echo, every answer sent
// twice, a block cut short with the line left up but silent, a hang-up in the
// middle of the block or after a number of commands, a block in slow pieces,
// a flood of records that never ends in a prompt.
// A reply that nobody takes for 5 s (the program quit in the middle of a
// block) is dropped with the port's unread input, so the next session starts
// clean.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kestrel::sim {

inline constexpr std::string_view kPrompt = "ch> ";
inline constexpr std::string_view kVersionText =
    "tinySA4_v1.4-177-gsim0042\r\nHW Version:V0.4.5.1-sim\r\n";
inline constexpr std::string_view kInfoText =
    "tinySA ULTRA (simulated)\r\n"
    "Kestrel test bench instrument\r\n"
    "Frequency range 100 kHz - 960 MHz\r\n";

// How the "scanraw" block is framed.
enum class Framing {
  Good,             // "{" records "}"
  NoStart,          // the "{" is left out
  WrongEnd,         // "]" in place of the closing "}"
  BadRecordMarker,  // record `bad_record` starts with 'y' instead of 'x'
};

// What the simulated instrument does. The defaults make a well-behaved one.
struct Behaviour {
  bool silent = false;      // records commands but never answers
  bool echo = true;         // answers start with "<command>\r\n"
  bool answer_info = true;  // false: "info" gets the bare prompt (no echo, empty reply)
  std::string version_text{kVersionText};
  std::string info_text{kInfoText};
  // Sent once at start, unasked; it waits in the port until the program reads it.
  std::string greeting{};

  // "scanraw" block: written in pieces of `chunk_size` bytes with `chunk_pause`
  // between them; 0 writes it in one go (the fast path for large scans).
  std::size_t chunk_size = 0;
  std::chrono::milliseconds chunk_pause{0};
  // Every prompt is written as "c", then after `prompt_pause` "h> ".
  bool split_prompt = false;
  std::chrono::milliseconds prompt_pause{100};

  Framing framing = Framing::Good;
  std::size_t bad_record = 10;       // index of the bad record for BadRecordMarker
  std::ptrdiff_t extra_records = 0;  // records sent = points asked + this (at least 0)
  // Level codes of the first records; the later ones follow shape_code().
  std::vector<std::uint16_t> levels{};

  // Close the master side after this many bytes of the block (counted from the
  // "{"), once the program has read what was sent; the simulator then stops.
  std::optional<std::size_t> hang_up_after{};
  // Send this many bytes of the block (counted from the "{"), then no prompt
  // and nothing more for any later command: the line stays up but silent.
  std::optional<std::size_t> stall_after{};
  // Close the master side once this many commands (1 or more) have been
  // answered and the answers read, so that the program's next write fails.
  std::optional<std::size_t> hang_up_after_commands{};

  // The answer to this command (its first word) is its echo, for "scanraw"
  // the block's "{", then records, `flood_length` bytes of them (without end
  // by default), and no prompt; no command is read meanwhile.
  std::string flood_after{};
  std::size_t flood_length = std::numeric_limits<std::size_t>::max();

  // Bytes sent before the echo of every answer, the block's included.
  std::string garbage{};
  // Every answer is sent a second time, `twice_pause` after the first.
  bool answer_twice = false;
  std::chrono::milliseconds twice_pause{0};
};

class Simulator {
 public:
  // Opens the pseudo-terminal and starts serving. Throws std::system_error
  // when no pseudo-terminal can be had.
  explicit Simulator(Behaviour behaviour = {});
  ~Simulator();  // stops the thread, closes both sides
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The slave device to open, for example "/dev/pts/5".
  const std::string& port_name() const { return port_name_; }
  const Behaviour& behaviour() const { return behaviour_; }

  // The commands received so far, without the carriage return, in order.
  std::vector<std::string> commands() const;
  // Waits until at least `count` commands have arrived; false on time-out.
  bool wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const;
  // True once the simulator has closed its master side (hang_up_after,
  // hang_up_after_commands).
  bool hung_up() const;
  // True once the block has been cut short by stall_after.
  bool stalled() const;

  // The level code of record `index` under this behaviour.
  std::uint16_t level_code(std::size_t index) const;
  // The built-in level shape: a noise floor near -90 dBm with a little ripple,
  // and a peak up to -50 dBm around every index ending in 50 (mod 100).
  static std::uint16_t shape_code(std::size_t index);
  // The block answered to "scanraw" for `points` points under `behaviour`,
  // from "{" to the end marker (no echo, no prompt).
  static std::vector<std::uint8_t> scan_block(std::size_t points, const Behaviour& behaviour = {});

 private:
  void serve();
  void answer(const std::string& command);
  bool send(std::string_view bytes);
  bool send_answer(const std::string& text);  // text, then the prompt
  void send_block(const std::string& echo, std::size_t points);
  void flood(const std::string& head);
  void wait_drained();
  void hang_up();
  bool pause(std::chrono::milliseconds duration);
  void close_master();

  Behaviour behaviour_;
  std::string port_name_;
  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};  // self-pipe that stops the serving thread

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> commands_;
  bool hung_up_ = false;
  bool stalled_ = false;

  std::thread thread_;
};

}  // namespace kestrel::sim
