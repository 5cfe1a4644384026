#pragma once
// Serial port access over POSIX termios: open a tty by name at a line rate in
// raw 8N1 mode without flow control, read and write bytes with a time-out,
// and list the serial devices of the machine.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "structs/errors.hpp"

namespace kestrel::serial {

class SerialPort {
 public:
  // Opens `name` at `baud` bits per second: raw binary, 8 data bits, no
  // parity, one stop bit, no flow control, receiver on, DTR and RTS off where
  // the device has them, locked for exclusive use (a second open, by this or
  // any program that locks, fails while this one lives; the lock goes with
  // the process). A name without '/' is looked up in /dev. Reads and writes time out
  // after `timeout`. On failure the error has the system's kind and text
  // (NoDevice for a name that does not exist) and nothing stays open.
  static std::expected<SerialPort, SerialError> open(const std::string& name, std::uint32_t baud,
                                                     std::chrono::milliseconds timeout);

  SerialPort(SerialPort&& other) noexcept;
  SerialPort& operator=(SerialPort&& other) noexcept;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort();  // closes the device

  // Returns at once with the bytes already received (1 to buffer.size()), or
  // waits up to the time-out for a first byte and then fails with a TimedOut
  // error whose text is "Operation timed out". A hung-up line (device gone,
  // far end of a pseudo-terminal closed) fails at once.
  std::expected<std::size_t, IoError> read(std::span<std::uint8_t> buffer);

  // One attempt to write `bytes`; gives the count written, which may be less
  // than the length. Waits up to the time-out for room, then fails as TimedOut.
  std::expected<std::size_t, IoError> write(std::span<const std::uint8_t> bytes);

  const std::string& name() const { return name_; }

 private:
  SerialPort(int fd, std::string name, std::chrono::milliseconds timeout)
      : fd_(fd), name_(std::move(name)), timeout_(timeout) {}
  int fd_ = -1;
  std::string name_;
  std::chrono::milliseconds timeout_;
};

// The names of the serial devices that exist (/dev/ttyACM*, /dev/ttyUSB*, the
// /dev/ttyS* that have a UART behind them, ...), sorted by name with numbers
// in numeric order. An unreadable device tree is a SerialError.
std::expected<std::vector<std::string>, SerialError> list_ports();

// The same from the tty class directory `sys_class_tty` (normally
// /sys/class/tty), naming the devices under `dev` (normally /dev).
std::expected<std::vector<std::string>, SerialError> list_ports(
    const std::filesystem::path& sys_class_tty, const std::filesystem::path& dev);

}  // namespace kestrel::serial
