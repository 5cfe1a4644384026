// Port listing from a fake /sys/class/tty and /dev laid out in a temp folder.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "serial/serial_port.hpp"

namespace kestrel::serial {
namespace {

namespace fs = std::filesystem;

class PortListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kestrel-ports-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(sys());
    fs::create_directories(dev());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path sys() const { return root_ / "sys" / "class" / "tty"; }
  fs::path dev() const { return root_ / "dev"; }

  // A tty with a device behind it; a UART port also has its type attribute.
  void add_port(const std::string& tty, std::optional<std::string> type = std::nullopt) {
    fs::create_directories(sys() / tty / "device");
    if (type) {
      std::ofstream(sys() / tty / "type") << *type;
    }
    std::ofstream(dev() / tty);
  }
  // A tty with nothing behind it (virtual console, ptmx, ...).
  void add_virtual(const std::string& tty) { fs::create_directories(sys() / tty); }

  std::string dev_name(const std::string& tty) const { return (dev() / tty).string(); }

  fs::path root_;
};

TEST_F(PortListTest, ListsDevicesWithHardwareInNaturalOrder) {
  add_port("ttyUSB10");
  add_port("ttyUSB2");
  add_port("ttyACM0");
  add_port("ttyS0", "4\n");
  add_port("ttyS10", "4\n");
  add_port("ttyAMA0", "83\n");
  add_port("ttyS1", "0\n");  // empty legacy slot
  add_port("ttyS2", "");     // type unreadable, and no tty to ask: left out
  add_virtual("tty0");
  add_virtual("ptmx");
  add_virtual("console");

  auto ports = list_ports(sys(), dev());
  ASSERT_TRUE(ports.has_value()) << ports.error().display();
  EXPECT_EQ(*ports, (std::vector<std::string>{dev_name("ttyACM0"), dev_name("ttyAMA0"),
                                              dev_name("ttyS0"), dev_name("ttyS10"),
                                              dev_name("ttyUSB2"), dev_name("ttyUSB10")}));
}

TEST_F(PortListTest, NoSerialDeviceIsAnEmptyList) {
  add_virtual("tty0");
  add_port("ttyS0", "0\n");
  auto ports = list_ports(sys(), dev());
  ASSERT_TRUE(ports.has_value());
  EXPECT_TRUE(ports->empty());
}

TEST_F(PortListTest, AnUnreadableTreeIsASerialError) {
  auto missing = list_ports(root_ / "no-such-dir", dev());
  ASSERT_FALSE(missing.has_value());
  EXPECT_FALSE(missing.error().description().empty());

  std::ofstream(root_ / "plain-file");
  EXPECT_FALSE(list_ports(root_ / "plain-file", dev()).has_value());
}

TEST(PortList, TheMachinesListNamesDevices) {
  auto ports = list_ports();
  ASSERT_TRUE(ports.has_value()) << ports.error().display();
  for (const auto& name : *ports) {
    EXPECT_TRUE(name.starts_with("/dev/")) << name;
  }
}

}  // namespace
}  // namespace kestrel::serial
