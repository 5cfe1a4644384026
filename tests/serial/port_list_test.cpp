// Port listing from a fake /sys/class/tty and /dev laid out in a temp folder.
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

  // A tty with a device behind it, bound to `driver`; `type` is the UART type
  // attribute, left out when empty.
  void add_port(const std::string& tty, const std::string& driver, const std::string& type = "") {
    fs::create_directories(sys() / tty / "device");
    fs::create_symlink("../../../bus/drivers/" + driver, sys() / tty / "device" / "driver");
    if (!type.empty()) {
      std::ofstream(sys() / tty / "type") << type << "\n";
    }
    std::ofstream(dev() / tty);
  }
  // A tty with nothing behind it (virtual console, ptmx, ...).
  void add_virtual(const std::string& tty) { fs::create_directories(sys() / tty); }

  std::string dev_name(const std::string& tty) const { return (dev() / tty).string(); }

  fs::path root_;
};

TEST_F(PortListTest, ListsDevicesWithHardwareInNaturalOrder) {
  add_port("ttyUSB10", "ftdi_sio");
  add_port("ttyUSB2", "ftdi_sio");
  add_port("ttyACM0", "cdc_acm");
  add_port("ttyS0", "serial8250", "4");
  add_port("ttyS10", "serial8250", "4");
  add_port("ttyS1", "serial8250", "0");  // empty legacy slot
  add_port("ttyS2", "serial8250");       // type unknown to us: left out
  add_port("ttyS3", "serial");           // a UART found by its own bus driver
  add_virtual("tty0");
  add_virtual("ptmx");
  add_virtual("console");

  auto ports = list_ports(sys(), dev());
  ASSERT_TRUE(ports.has_value()) << ports.error().display();
  EXPECT_EQ(*ports, (std::vector<std::string>{dev_name("ttyACM0"), dev_name("ttyS0"),
                                              dev_name("ttyS3"), dev_name("ttyS10"),
                                              dev_name("ttyUSB2"), dev_name("ttyUSB10")}));
}

TEST_F(PortListTest, NoSerialDeviceIsAnEmptyList) {
  add_virtual("tty0");
  add_port("ttyS0", "serial8250", "0");
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
