// The port against a pseudo-terminal: the test holds the master side and a
// slave descriptor of its own to look at the line settings. <termios.h> is
// left out because the termios2 view of <asm/termbits.h> shows the real rate.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "serial/serial_port.hpp"

namespace kestrel::serial {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::array<std::uint32_t, 10> kRates = {19200,  38400,  57600,   115200,  230400,
                                                  460800, 921600, 1843200, 2000000, 3000000};

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    char name[128];
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    ASSERT_EQ(::ptsname_r(master_, name, sizeof name), 0);
    name_ = name;
    watcher_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(watcher_, 0);
  }
  void TearDown() override {
    if (master_ >= 0) {
      ::close(master_);
    }
    ::close(watcher_);
  }

  SerialPort open_port(std::chrono::milliseconds timeout = 3000ms, std::uint32_t baud = 115200) {
    auto port = SerialPort::open(name_, baud, timeout);
    if (!port) {
      ADD_FAILURE() << "open " << name_ << ": " << port.error().display();
      std::abort();
    }
    return std::move(*port);
  }

  void master_write(std::span<const std::uint8_t> bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads exactly `count` bytes from the master side, or fails after a second.
  std::vector<std::uint8_t> master_read(std::size_t count) {
    std::vector<std::uint8_t> got;
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 1000) != 1) {
        ADD_FAILURE() << "master side got " << got.size() << " of " << count << " bytes";
        break;
      }
      std::uint8_t buf[512];
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) {
        break;
      }
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  termios2 line() {
    termios2 tio{};
    EXPECT_EQ(::ioctl(watcher_, TCGETS2, &tio), 0);
    return tio;
  }

  int master_ = -1;
  int watcher_ = -1;
  std::string name_;
};

TEST_F(PtyTest, OpensAtEveryRateInRawEightNOne) {
  for (std::uint32_t rate : kRates) {
    SCOPED_TRACE(rate);
    auto port = SerialPort::open(name_, rate, 3000ms);
    ASSERT_TRUE(port.has_value()) << port.error().display();
    EXPECT_EQ(port->name(), name_);
    termios2 tio = line();
    EXPECT_EQ(tio.c_ospeed, rate);
    EXPECT_EQ(tio.c_ispeed, rate);
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  }
}

TEST_F(PtyTest, ReadGivesWhatHasArrivedWithoutWaiting) {
  SerialPort port = open_port(3000ms);
  const std::vector<std::uint8_t> sent = {'a', 'b', 'c'};
  master_write(sent);

  std::array<std::uint8_t, 256> buf{};
  auto t0 = Clock::now();
  auto n = port.read(buf);
  ASSERT_TRUE(n.has_value()) << n.error().display();
  EXPECT_LT(Clock::now() - t0, 1000ms);
  EXPECT_THAT(std::vector(buf.begin(), buf.begin() + *n), ::testing::ElementsAre('a', 'b', 'c'));

  // A buffer smaller than what waits takes its size; the rest stays for later.
  master_write(sent);
  std::array<std::uint8_t, 2> small{};
  EXPECT_EQ(port.read(small), 2u);
  EXPECT_EQ(port.read(small), 1u);
  EXPECT_EQ(small[0], 'c');
}

TEST_F(PtyTest, ReadWaitsForTheFirstByteThenTimesOut) {
  std::array<std::uint8_t, 64> buf{};
  {
    SerialPort port = open_port(150ms);
    auto t0 = Clock::now();
    auto n = port.read(buf);
    auto waited = Clock::now() - t0;
    ASSERT_FALSE(n.has_value());
    EXPECT_EQ(n.error().kind(), IoErrorKind::TimedOut);
    EXPECT_EQ(n.error().message(), "Operation timed out");
    EXPECT_GE(waited, 140ms);
    EXPECT_LT(waited, 1000ms);
  }
  // A byte that comes during the wait ends it.
  SerialPort port = open_port(2000ms);
  std::thread late([&] {
    std::this_thread::sleep_for(50ms);
    master_write(std::vector<std::uint8_t>{'z'});
  });
  auto n = port.read(buf);
  late.join();
  ASSERT_TRUE(n.has_value());
  EXPECT_EQ(buf[0], 'z');
}

TEST_F(PtyTest, EveryByteValuePassesUnchangedBothWays) {
  SerialPort port = open_port(1000ms);
  std::vector<std::uint8_t> all(256);
  std::iota(all.begin(), all.end(), 0);

  auto written = port.write(all);
  ASSERT_TRUE(written.has_value());
  ASSERT_EQ(*written, all.size());
  EXPECT_EQ(master_read(all.size()), all);

  master_write(all);
  std::vector<std::uint8_t> got;
  std::array<std::uint8_t, 64> buf{};
  while (got.size() < all.size()) {
    auto n = port.read(buf);
    ASSERT_TRUE(n.has_value()) << n.error().display();
    got.insert(got.end(), buf.begin(), buf.begin() + *n);
  }
  EXPECT_EQ(got, all);
}

TEST_F(PtyTest, WriteTimesOutWhenNothingIsTaken) {
  SerialPort port = open_port(100ms);
  const std::vector<std::uint8_t> big(1 << 20, 'w');
  std::expected<std::size_t, IoError> r = 0;
  // The first write fills the line; one that finds no room waits and fails.
  for (int i = 0; i < 4 && r; ++i) {
    r = port.write(big);
    if (r) {
      EXPECT_LT(*r, big.size());
    }
  }
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), IoErrorKind::TimedOut);
  EXPECT_EQ(r.error().message(), "Operation timed out");
}

TEST_F(PtyTest, HangUpIsAReadFailureNotAWait) {
  SerialPort port = open_port(2000ms);
  ::close(master_);
  master_ = -1;
  std::array<std::uint8_t, 64> buf{};
  auto t0 = Clock::now();
  auto n = port.read(buf);
  ASSERT_FALSE(n.has_value());
  EXPECT_NE(n.error().kind(), IoErrorKind::TimedOut) << n.error().display();
  EXPECT_LT(Clock::now() - t0, 1000ms);
  EXPECT_FALSE(port.write(std::vector<std::uint8_t>{'x'}).has_value());
}

TEST_F(PtyTest, UseIsExclusiveUntilThePortGoesAway) {
  std::optional<SerialPort> holder;
  {
    SerialPort first = open_port();
    holder.emplace(std::move(first));  // the moved-from object closes nothing
  }
  auto second = SerialPort::open(name_, 115200, 100ms);
  ASSERT_FALSE(second.has_value());
  EXPECT_FALSE(second.error().description().empty());

  // The tty itself is never put in exclusive mode, which would outlive a
  // process that ends without closing the port.
  int exclusive = 1;
  ASSERT_EQ(::ioctl(watcher_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);

  holder.reset();
  EXPECT_TRUE(SerialPort::open(name_, 115200, 100ms).has_value());
}

std::size_t open_descriptors() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

TEST(SerialPortOpen, ANameWithoutASlashIsADeviceOfDev) {
  // "ptmx" is /dev/ptmx, a terminal like any serial device; no such file
  // exists in the working directory.
  EXPECT_TRUE(SerialPort::open("ptmx", 115200, 100ms).has_value());

  for (const char* name : {"/dev/kestrel-no-such-port", "ttyKESTREL99", "COM3"}) {
    SCOPED_TRACE(name);
    auto port = SerialPort::open(name, 115200, 100ms);
    ASSERT_FALSE(port.has_value());
    EXPECT_EQ(port.error().kind(), SerialErrorKind::NoDevice);
  }
}

TEST(SerialPortOpen, AFileThatIsNoTtyFailsAndLeavesNothingOpen) {
  auto path = std::filesystem::temp_directory_path() / "kestrel-not-a-tty";
  std::ofstream(path) << "plain file";
  const std::size_t before = open_descriptors();
  auto port = SerialPort::open(path.string(), 115200, 100ms);
  EXPECT_FALSE(port.has_value());
  EXPECT_EQ(open_descriptors(), before);
  std::filesystem::remove(path);

  EXPECT_EQ(SerialPort::open("/dev/null", 0, 100ms).error().kind(), SerialErrorKind::InvalidInput);
}

}  // namespace
}  // namespace kestrel::serial
