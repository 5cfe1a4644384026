#include "sim/simulator.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <sstream>
#include <system_error>

namespace kestrel::sim {

namespace {

// A write that makes no progress for this long means nobody reads the port
// any more (the program closed it or died): the reply is dropped.
constexpr std::chrono::milliseconds kStallLimit{5000};
// The largest "scanraw" the simulator answers.
constexpr std::uint64_t kMaxPoints = 10'000'000;

std::uint16_t code_for(const Behaviour& behaviour, std::size_t index) {
  return index < behaviour.levels.size() ? behaviour.levels[index] : Simulator::shape_code(index);
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) {
    words.push_back(w);
  }
  return words;
}

bool parse_u64(const std::string& text, std::uint64_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

Simulator::Simulator(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  try {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
      fail("posix_openpt");
    }
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      fail("pseudo-terminal set-up");
    }
    port_name_ = name;
    // Holding the slave open keeps the master from seeing a hang-up each time
    // the program closes its port.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
      fail("open slave");
    }
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) {
      fail("tcgetattr");
    }
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0) {
      fail("tcsetattr");
    }
    if (::fcntl(master_, F_SETFL, O_NONBLOCK) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
      fail("simulator set-up");
    }
  } catch (...) {
    close_master();
    for (int fd : wake_) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
    throw;
  }
  thread_ = std::thread(&Simulator::serve, this);
}

Simulator::~Simulator() {
  char stop = 1;
  [[maybe_unused]] auto n = ::write(wake_[1], &stop, 1);
  thread_.join();
  close_master();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::vector<std::string> Simulator::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

bool Simulator::wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

bool Simulator::hung_up() const {
  std::lock_guard lock(mutex_);
  return hung_up_;
}

bool Simulator::stalled() const {
  std::lock_guard lock(mutex_);
  return stalled_;
}

std::uint16_t Simulator::level_code(std::size_t index) const {
  return code_for(behaviour_, index);
}

std::uint16_t Simulator::shape_code(std::size_t index) {
  constexpr int floor = (128 - 90) * 32;                 // -90 dBm
  const int ripple = static_cast<int>(index * 37 % 23);  // under 0.75 dB
  const int from_peak = std::abs(static_cast<int>(index % 100) - 50);
  const int peak = from_peak < 5 ? (5 - from_peak) * 8 * 32 : 0;  // 8 dB a step
  return static_cast<std::uint16_t>(floor + ripple + peak);
}

std::vector<std::uint8_t> Simulator::scan_block(std::size_t points, const Behaviour& behaviour) {
  const auto asked = static_cast<std::ptrdiff_t>(points);
  const auto count =
      static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, asked + behaviour.extra_records));
  std::vector<std::uint8_t> block;
  block.reserve(count * 3 + 2);
  if (behaviour.framing != Framing::NoStart) {
    block.push_back('{');
  }
  for (std::size_t i = 0; i < count; ++i) {
    const bool bad = behaviour.framing == Framing::BadRecordMarker && i == behaviour.bad_record;
    const std::uint16_t code = code_for(behaviour, i);
    block.push_back(bad ? 'y' : 'x');
    block.push_back(static_cast<std::uint8_t>(code & 0xFF));
    block.push_back(static_cast<std::uint8_t>(code >> 8));
  }
  block.push_back(behaviour.framing == Framing::WrongEnd ? ']' : '}');
  return block;
}

void Simulator::serve() {
  const auto& last_command = behaviour_.hang_up_after_commands;
  if (!behaviour_.silent && !behaviour_.greeting.empty() && !send(behaviour_.greeting)) {
    return;
  }
  std::size_t answered = 0;
  std::string line;
  char buf[4096];
  while (master_ >= 0) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if (!(fds[0].revents & POLLIN)) {
      // Hang-up or error without data: do not spin on it.
      if (!pause(std::chrono::milliseconds(20))) {
        return;
      }
      continue;
    }
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    for (ssize_t i = 0; i < n && master_ >= 0; ++i) {
      if (buf[i] == '\n') {
        continue;
      }
      if (buf[i] != '\r') {
        line.push_back(buf[i]);
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
      }
      changed_.notify_all();
      answer(line);
      if (behaviour_.answer_twice && master_ >= 0 && pause(behaviour_.twice_pause)) {
        answer(line);
      }
      line.clear();
      if (++answered == last_command) {
        hang_up();
      }
    }
  }
}

void Simulator::answer(const std::string& command) {
  if (behaviour_.silent || stalled()) {
    return;
  }
  const auto words = words_of(command);
  const std::string word = words.empty() ? "" : words.front();
  if (word == "info" && !behaviour_.answer_info) {
    send_answer("");
    return;
  }
  const std::string echo = behaviour_.garbage + (behaviour_.echo ? command + "\r\n" : "");
  if (!word.empty() && word == behaviour_.flood_after) {
    flood(echo + (word == "scanraw" ? "{" : ""));
    return;
  }
  std::uint64_t start = 0, stop = 0, points = 0;
  if (word == "scanraw" && words.size() == 4 && parse_u64(words[1], start) &&
      parse_u64(words[2], stop) && parse_u64(words[3], points) && points <= kMaxPoints) {
    send_block(echo, points);
    return;
  }
  std::string reply;
  if (word == "version") {
    reply = behaviour_.version_text;
  } else if (word == "info") {
    reply = behaviour_.info_text;
  } else if (word == "scanraw") {
    reply = "usage: scanraw {start(Hz)} {stop(Hz)} {points}\r\n";
  } else if (!word.empty() && word != "repeat" && word != "zero" && word != "marker" &&
             word != "pause" && word != "mode" && word != "sweep" && word != "scan" &&
             word != "resume") {
    reply = word + "?\r\n";
  }
  send_answer(echo + reply);
}

void Simulator::send_block(const std::string& echo, std::size_t points) {
  const auto block = scan_block(points, behaviour_);
  std::string_view bytes(reinterpret_cast<const char*>(block.data()), block.size());
  const auto& hang_up_at = behaviour_.hang_up_after;
  const auto& stall_at = behaviour_.stall_after;
  if (behaviour_.chunk_size == 0 && !hang_up_at && !stall_at) {
    send_answer(echo + std::string(bytes));  // the fast path: one stream
    return;
  }
  for (const auto& cut : {hang_up_at, stall_at}) {
    if (cut) {
      bytes = bytes.substr(0, *cut);
    }
  }
  const std::size_t step = behaviour_.chunk_size != 0 ? behaviour_.chunk_size : bytes.size();
  if (!send(echo)) {
    return;
  }
  for (std::size_t at = 0; at < bytes.size(); at += step) {
    if ((at > 0 && !pause(behaviour_.chunk_pause)) || !send(bytes.substr(at, step))) {
      return;
    }
  }
  if (hang_up_at) {
    hang_up();
  } else if (stall_at) {
    {
      std::lock_guard lock(mutex_);
      stalled_ = true;
    }
    changed_.notify_all();
  } else {
    send_answer("");
  }
}

void Simulator::flood(const std::string& head) {
  // The records of a block, sent over and over.
  const auto block = scan_block(1000);
  const std::string_view records(reinterpret_cast<const char*>(block.data()) + 1, block.size() - 2);
  if (!send(head)) {
    return;
  }
  for (std::size_t left = behaviour_.flood_length; left > 0;) {
    const std::string_view piece = records.substr(0, std::min(left, records.size()));
    if (!send(piece)) {
      return;
    }
    left -= piece.size();
  }
}

bool Simulator::send_answer(const std::string& text) {
  if (!behaviour_.split_prompt) {
    return send(text + std::string(kPrompt));
  }
  return send(text + std::string(kPrompt.substr(0, 1))) && pause(behaviour_.prompt_pause) &&
         send(kPrompt.substr(1));
}

bool Simulator::send(std::string_view bytes) {
  auto last_progress = std::chrono::steady_clock::now();
  while (!bytes.empty()) {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      last_progress = std::chrono::steady_clock::now();
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    if (std::chrono::steady_clock::now() - last_progress > kStallLimit) {
      ::tcflush(slave_, TCIFLUSH);
      return false;
    }
    pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, 100) > 0 && fds[1].revents != 0) {
      return false;
    }
  }
  return true;
}

void Simulator::hang_up() {
  wait_drained();
  {
    // Marked first, so that whoever sees the hang-up also sees the mark.
    std::lock_guard lock(mutex_);
    hung_up_ = true;
  }
  changed_.notify_all();
  close_master();
}

void Simulator::wait_drained() {
  // Closing the master discards what the slave has not read yet, so give the
  // program up to two seconds to take it first.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int quiet = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    int pending = 0;
    if (::ioctl(slave_, FIONREAD, &pending) != 0) {
      return;
    }
    quiet = pending == 0 ? quiet + 1 : 0;
    if (quiet == 2 || !pause(std::chrono::milliseconds(10))) {
      return;
    }
  }
}

bool Simulator::pause(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) {
    return true;
  }
  pollfd wake{wake_[0], POLLIN, 0};
  return ::poll(&wake, 1, static_cast<int>(duration.count())) == 0;
}

void Simulator::close_master() {
  for (int* fd : {&master_, &slave_}) {
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  }
}

}  // namespace kestrel::sim
