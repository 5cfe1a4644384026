#include "serial/serial_port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "serial/line_settings.hpp"

namespace kestrel::serial {

namespace {

using Clock = std::chrono::steady_clock;

// Closes a descriptor unless released: keeps the open steps free of leaks.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

IoError timed_out() {
  return IoError::custom(IoErrorKind::TimedOut, "Operation timed out");
}

IoError hung_up() {
  return IoError::custom(IoErrorKind::BrokenPipe, "The device hung up");
}

// Runs `io`, one read or write of at least one byte on the non-blocking `fd`,
// until it moves bytes: while the line has nothing to give (or no room), waits
// up to `timeout` for `event`, then fails as a time-out.
template <class Io>
std::expected<std::size_t, IoError> transfer(int fd, short event, std::chrono::milliseconds timeout,
                                             Io io) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    ssize_t n = io();
    if (n > 0) {
      return static_cast<std::size_t>(n);
    }
    if (n == 0) {
      return std::unexpected(hung_up());  // a read at the end of a hung-up line
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN) {
      return std::unexpected(IoError::from_errno(errno));
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return std::unexpected(timed_out());
    }
    pollfd p{fd, event, 0};
    int r = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30)));
    if (r < 0 && errno != EINTR) {
      return std::unexpected(IoError::from_errno(errno));
    }
    if (r == 0) {
      return std::unexpected(timed_out());
    }
    // A hang-up or line error that is not readiness would otherwise spin.
    if (r > 0 && !(p.revents & event)) {
      return std::unexpected(p.revents & POLLNVAL ? IoError::from_errno(EBADF) : hung_up());
    }
  }
}

}  // namespace

std::expected<SerialPort, SerialError> SerialPort::open(const std::string& name, std::uint32_t baud,
                                                        std::chrono::milliseconds timeout) {
  if (baud == 0) {
    return std::unexpected(
        SerialError(SerialErrorKind::InvalidInput, "Baud rate must be greater than zero"));
  }
  std::string path = name.find('/') == std::string::npos ? "/dev/" + name : name;
  FdGuard fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    return std::unexpected(SerialError::from_errno(errno));
  }
  // The lock keeps out every other program that locks the port, and goes
  // with the descriptor however the process ends. Exclusive mode (TIOCEXCL)
  // is not used: it belongs to the tty and would outlive a process that ends
  // mid-scan, refusing the port to every later user but root.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    return std::unexpected(SerialError::from_errno(errno == EWOULDBLOCK ? EBUSY : errno));
  }
  if (int err = detail::set_raw_line(fd.get(), baud); err != 0) {
    return std::unexpected(SerialError::from_errno(err));
  }
  // Devices without modem lines (pseudo-terminals, some adapters) refuse this.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd.get(), TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL &&
      errno != EIO) {
    return std::unexpected(SerialError::from_errno(errno));
  }
  return SerialPort(fd.release(), name, timeout);
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)), timeout_(other.timeout_) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    SerialPort old(std::move(*this));
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
    timeout_ = other.timeout_;
  }
  return *this;
}

SerialPort::~SerialPort() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::expected<std::size_t, IoError> SerialPort::read(std::span<std::uint8_t> buffer) {
  if (buffer.empty()) {
    return 0;
  }
  return transfer(fd_, POLLIN, timeout_, [&] { return ::read(fd_, buffer.data(), buffer.size()); });
}

std::expected<std::size_t, IoError> SerialPort::write(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) {
    return 0;
  }
  return transfer(fd_, POLLOUT, timeout_, [&] { return ::write(fd_, bytes.data(), bytes.size()); });
}

}  // namespace kestrel::serial
