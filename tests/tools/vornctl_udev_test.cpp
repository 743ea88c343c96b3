// vornctl's own reading of udev's USB serial ports over a umockdev test bed:
// it names the ports the driver's discovery takes, in the driver's order, and
// when nothing is found it says where it looked. Runs under umockdev-wrapper,
// which points libudev at the test bed, for vornctl's children too.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <string>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/port_advice.h"
#include "vornctl_run.h"

namespace vorn_test {
namespace {

class VornctlUdev : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VORN_PORTS");
    bed = umockdev_testbed_new();
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
  }
  void TearDown() override { g_object_unref(bed); }

  // A single-port converter on USB interface 00, with udev's properties.
  void AddConverter(const char *name, const char *vendor, const char *serial, const char *tty) {
    const std::string usbName = std::string("usb-") + name;
    gchar *usb = umockdev_testbed_add_device(bed, "usb", usbName.c_str(), nullptr, "idVendor", vendor, "idProduct",
                                             "6001", "product", "USB UART", nullptr, "DEVTYPE", "usb_device", nullptr);
    if (*serial) umockdev_testbed_set_attribute(bed, usb, "serial", serial);
    const std::string interfaceName = usbName + ":1.0";
    gchar *usbInterface = umockdev_testbed_add_device(bed, "usb", interfaceName.c_str(), usb, "bInterfaceNumber", "00",
                                                      nullptr, "DEVTYPE", "usb_interface", nullptr);
    const std::string node = std::string("/dev/") + tty;
    gchar *port =
        umockdev_testbed_add_device(bed, "tty", tty, usbInterface, nullptr, "DEVNAME", node.c_str(), "ID_VENDOR_ID",
                                    vendor, "ID_MODEL_ID", "6001", "ID_USB_INTERFACE_NUM", "00", nullptr);
    if (*serial) umockdev_testbed_set_property(bed, port, "ID_SERIAL_SHORT", serial);
    g_free(port);
    g_free(usbInterface);
    g_free(usb);
  }

  UMockdevTestbed *bed = nullptr;
};

TEST_F(VornctlUdev, DevicesAreLocatedOnThePortsTheDriverTakesInItsOrder) {
  AddConverter("a", "0403", "FT000001", "ttyUSB0");
  AddConverter("b", "0403", "VSC00042", "ttyUSB1");
  AddConverter("c", "067b", "", "ttyUSB2");
  AddConverter("d", "0403", "A8001234", "ttyUSB3");
  EXPECT_EQ(vornctl::LocateDevice(0).path, "/dev/ttyUSB1");
  EXPECT_EQ(vornctl::LocateDevice(0).serial, "VSC00042A");
  EXPECT_EQ(vornctl::LocateDevice(1).path, "/dev/ttyUSB3");
  EXPECT_EQ(vornctl::LocateDevice(2).path, "");
  EXPECT_EQ(vornctl::LocateDevice(-1).path, "");

  // The driver agrees: as many devices, with the identifiers of those serial numbers.
  vorn_host::VornLibrary lib;
  std::string error;
  ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  const std::vector<std::int32_t> found = vornctl::FindAllDevices(lib);
  ASSERT_EQ(found.size(), 2u);
  std::int32_t id = 0;
  EXPECT_EQ(lib.GetUniqueID(0, &id), 1);
  EXPECT_EQ(id, 4);  // 00042A
  EXPECT_EQ(lib.GetUniqueID(1, &id), 1);
  EXPECT_EQ(id, 87);  // 01234A
  lib.CloseAll();
  lib.Unload();
}

TEST_F(VornctlUdev, NothingFoundSaysWhereItLookedAndHowToTryWithoutHardware) {
  const RunResult none = RunVornctl({"list"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("no device found; the driver says: \"The Vorn Device cannot be found."), std::string::npos)
      << none.err;
  EXPECT_NE(none.err.find("looked at udev's USB serial ports: there are none"), std::string::npos) << none.err;

  AddConverter("a", "067b", "", "ttyUSB0");
  AddConverter("b", "0403", "FT000001", "ttyUSB1");
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{{"list"}, {"info", "0"}}) {
    const RunResult run = RunVornctl(args);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    for (const char *text : {"looked at udev's USB serial ports: 2 found, 1 of them FTDI converters:",
                             "/dev/ttyUSB0 (USB 067b:6001, USB UART): not an FTDI converter",
                             "/dev/ttyUSB1 (USB 0403:6001, USB UART): FTDI, serial number FT000001A, not a Vorn one",
                             "'vornctl demo'", "vorn-sim (it prints SERIAL=PATH) and give that line to VORN_PORTS"}) {
      EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    }
  }
  // With VORN_PORTS the USB ports are not what was searched.
  RunOptions options;
  options.environment = {"VORN_PORTS=FT1=/dev/null"};
  const RunResult named = RunVornctl({"list"}, options);
  EXPECT_EQ(named.err.find("/dev/ttyUSB1"), std::string::npos) << named.err;
  EXPECT_NE(named.err.find("unset it to look for devices on the USB serial ports"), std::string::npos) << named.err;
}

}  // namespace
}  // namespace vorn_test
