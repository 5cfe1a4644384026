// Serial ports from the kernel's tty class: a tty with a device link has
// hardware (or a USB function) behind it; virtual consoles and
// pseudo-terminals have none. UART drivers (8250 and the like) register a
// fixed number of legacy slots whether a UART answers or not; those carry a
// "type" attribute, and count only when it names a known UART.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "serial/serial_port.hpp"

namespace kestrel::serial {

namespace fs = std::filesystem;

namespace {

// The UART type of a port: the class attribute "type" (root-only on older
// kernels), else the device's own TIOCGSERIAL.
std::optional<int> uart_type(const fs::path& tty_dir, const fs::path& device) {
  if (std::ifstream in(tty_dir / "type"); in) {
    int type = 0;
    if (in >> type) {
      return type;
    }
  }
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  serial_struct info{};
  std::optional<int> type;
  if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
    type = info.type;
  }
  ::close(fd);
  return type;
}

bool has_hardware(const fs::path& tty_dir, const fs::path& device) {
  std::error_code ec;
  if (!fs::exists(tty_dir / "device", ec)) {
    return false;
  }
  if (!fs::exists(tty_dir / "type", ec)) {
    return true;  // not a UART port: USB serial, modem, ...
  }
  auto type = uart_type(tty_dir, device);
  return type && *type != PORT_UNKNOWN;
}

// Name order with embedded numbers compared by value: ttyS2 before ttyS10.
bool natural_less(std::string_view a, std::string_view b) {
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei]))
        ++ei;
      while (ej < b.size() && digit(b[ej]))
        ++ej;
      auto na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      while (na.size() > 1 && na.front() == '0')
        na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0')
        nb.remove_prefix(1);
      if (na.size() != nb.size()) {
        return na.size() < nb.size();
      }
      if (na != nb) {
        return na < nb;
      }
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) {
        return a[i] < b[j];
      }
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

}  // namespace

std::expected<std::vector<std::string>, SerialError> list_ports(const fs::path& sys_class_tty,
                                                                const fs::path& dev) {
  std::error_code ec;
  fs::directory_iterator it(sys_class_tty, ec);
  if (ec) {
    return std::unexpected(SerialError::from_errno(ec.value()));
  }
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    std::string tty = it->path().filename().string();
    fs::path device = dev / tty;
    if (has_hardware(it->path(), device)) {
      names.push_back(device.string());
    }
  }
  if (ec) {
    return std::unexpected(SerialError::from_errno(ec.value()));
  }
  std::ranges::sort(names, natural_less);
  return names;
}

std::expected<std::vector<std::string>, SerialError> list_ports() {
  return list_ports("/sys/class/tty", "/dev");
}

}  // namespace kestrel::serial
