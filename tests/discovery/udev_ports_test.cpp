// The POSIX half over a umockdev test bed: which ttys are listed, the
// identifier the serial number is cut from, the port-name and converter
// lookups, and FindDevice to GetUniqueID through the native library.
// Runs under umockdev-wrapper, which points libudev at the test bed.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <string>

#include "discovery/discovery.h"
#include "discovery/system_ports.h"
#include "tools/hostlib/vorn_library.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class UdevPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VORN_PORTS");
    bed = umockdev_testbed_new();
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
  }
  void TearDown() override {
    DiscardDiscoveryState();
    g_object_unref(bed);
  }
  // A USB converter; empty texts leave the attribute out. Its ports are added with AddPort.
  std::string AddUsbDevice(const char *name, const char *vendor, const char *product, const char *serialAttribute) {
    const std::string usbName = std::string("usb-") + name;
    gchar *usb = umockdev_testbed_add_device(bed, "usb", usbName.c_str(), nullptr, "idVendor", vendor, "idProduct",
                                             product, "manufacturer", "FTDI", "product", "FT232R USB UART", nullptr,
                                             "DEVTYPE", "usb_device", nullptr);
    if (*serialAttribute) umockdev_testbed_set_attribute(bed, usb, "serial", serialAttribute);
    std::string path = usb;
    g_free(usb);
    return path;
  }
  // One tty of the converter behind its USB interface (two hex digits). withDatabase:
  // the properties udev's rules give; interfaceProperty: whether they name the interface.
  void AddPort(const std::string &usb, const char *interfaceNumber, const char *vendor, const char *product,
               const char *tty, const char *serialProperty, bool withDatabase = true, bool interfaceProperty = true) {
    const std::string interfaceName = usb.substr(usb.rfind('/') + 1) + ":1." + interfaceNumber;
    gchar *usbInterface =
        umockdev_testbed_add_device(bed, "usb", interfaceName.c_str(), usb.c_str(), "bInterfaceNumber", interfaceNumber,
                                    nullptr, "DEVTYPE", "usb_interface", nullptr);
    const std::string node = std::string("/dev/") + tty;
    gchar *port = nullptr;
    if (withDatabase) {
      port = umockdev_testbed_add_device(bed, "tty", tty, usbInterface, nullptr, "DEVNAME", node.c_str(),
                                         "ID_VENDOR_ID", vendor, "ID_MODEL_ID", product, nullptr);
      if (*serialProperty) umockdev_testbed_set_property(bed, port, "ID_SERIAL_SHORT", serialProperty);
      if (interfaceProperty) umockdev_testbed_set_property(bed, port, "ID_USB_INTERFACE_NUM", interfaceNumber);
    } else {
      port = umockdev_testbed_add_device(bed, "tty", tty, usbInterface, nullptr, "DEVNAME", node.c_str(), nullptr);
    }
    g_free(port);
    g_free(usbInterface);
  }
  // A single-port converter: one tty on interface 00.
  void AddConverter(const char *name, const char *vendor, const char *product, const char *serialAttribute,
                    const char *tty, const char *serialProperty, bool withDatabase = true) {
    AddPort(AddUsbDevice(name, vendor, product, serialAttribute), "00", vendor, product, tty, serialProperty,
            withDatabase);
  }
  void AddPlainTty(const char *tty) {
    const std::string node = std::string("/dev/") + tty;
    g_free(umockdev_testbed_add_device(bed, "tty", tty, nullptr, nullptr, "DEVNAME", node.c_str(), nullptr));
  }
  UMockdevTestbed *bed = nullptr;
};

TEST_F(UdevPorts, UsbTtysAreListedWithAnIdentifierTheSerialIsCutFrom) {
  AddPlainTty("ttyS0");
  AddConverter("a", "0403", "6001", "VSC00042", "ttyUSB0", "VSC00042");
  AddPlainTty("tty1");
  auto devices = SystemPorts().MakeEnumerator();
  ASSERT_TRUE(devices->Next());
  std::u16string id = devices->GetInstanceId();
  EXPECT_EQ(id, u"USB\\VID_0403+PID_6001+VSC00042A\\ttyUSB0");
  std::u16string path;
  devices->GetDevicePath(path);
  EXPECT_EQ(path, u"/dev/ttyUSB0");
  EXPECT_EQ(devices->GetFriendlyName(), u"FT232R USB UART");
  EXPECT_EQ(devices->GetManufacturer(), u"FTDI");
  id = ExtractSerial(id, u'+');
  EXPECT_EQ(id, u"VSC00042A");
  EXPECT_FALSE(devices->Next());
}

TEST_F(UdevPorts, OnlyNonUsbTtysOrNoneAtAllListNothing) {
  EXPECT_FALSE(SystemPorts().MakeEnumerator()->Next());
  AddPlainTty("ttyS0");
  AddPlainTty("ttyS1");
  EXPECT_FALSE(SystemPorts().MakeEnumerator()->Next());
  EXPECT_FALSE(SearchNextDevice());
  FtdiFlags flags;
  EXPECT_FALSE(CurrentFtdiFlags(flags));  // discarded, and never "not installed" here
}

TEST_F(UdevPorts, WithoutUdevDatabaseTheUsbAttributesNameTheConverter) {
  AddConverter("a", "0403", "6015", "A8001234", "ttyUSB3", "", false);
  auto devices = SystemPorts().MakeEnumerator();
  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->GetInstanceId(), u"USB\\VID_0403+PID_6015+\\ttyUSB3");
}

TEST_F(UdevPorts, SerialMissingFromTheIdentifierComesFromTheConverter) {
  AddConverter("a", "0403", "6001", "A8001234", "ttyUSB1", "");
  std::u16string portName;
  ASSERT_TRUE(SystemPorts().ReadPortName(u"USB\\VID_0403+PID_6001+\\ttyUSB1", portName));
  EXPECT_EQ(portName, u"/dev/ttyUSB1");
  EXPECT_FALSE(SystemPorts().ReadPortName(u"USB\\VID_0403+PID_6001+\\ttyUSB9", portName));
  EXPECT_EQ(portName, u"");

  auto ftdi = SystemPorts().MakeFtdiLookup();
  EXPECT_TRUE(ftdi->Usable());
  std::u16string serial;
  ASSERT_TRUE(ftdi->FindFtdiSerial(u"/dev/ttyUSB1", serial));
  EXPECT_EQ(serial, u"A8001234");
  EXPECT_FALSE(ftdi->FindFtdiSerial(u"/dev/ttyUSB2", serial));
  EXPECT_FALSE(ftdi->FindFtdiSerial(u"", serial));

  auto session = SearchNextDevice();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->portName, u"/dev/ttyUSB1");
  EXPECT_EQ(session->uniqueId, 2);
}

TEST_F(UdevPorts, ForeignConverterOrOneWithoutSerialIsNoVornDevice) {
  AddConverter("a", "067b", "2303", "VSC1234567", "ttyUSB0", "");
  AddConverter("b", "0403", "6001", "", "ttyUSB1", "");
  auto ftdi = SystemPorts().MakeFtdiLookup();
  std::u16string serial;
  EXPECT_FALSE(ftdi->FindFtdiSerial(u"/dev/ttyUSB0", serial));
  EXPECT_FALSE(ftdi->FindFtdiSerial(u"/dev/ttyUSB1", serial));
  EXPECT_FALSE(SearchNextDevice());
}

// The identity Windows derives from FTDIBUS\VID_0403+PID_6001+VSC00042A\0000:
// serial text 00042A, unique identifier 4.
TEST_F(UdevPorts, SinglePortFtdiConverterHasItsWindowsIdentity) {
  AddConverter("a", "0403", "6001", "VSC00042", "ttyUSB0", "VSC00042");
  auto session = SearchNextDevice();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->portName, u"/dev/ttyUSB0");
  EXPECT_EQ(session->deviceText, u"00042A");
  EXPECT_EQ(session->uniqueId, 4);
}

TEST_F(UdevPorts, EachPortOfATwoPortFtdiConverterGetsItsLetter) {
  const std::string usb = AddUsbDevice("a", "0403", "6010", "VSC00077");
  AddPort(usb, "00", "0403", "6010", "ttyUSB0", "VSC00077");
  // Without the interface property the USB interface itself tells the port.
  AddPort(usb, "01", "0403", "6010", "ttyUSB1", "VSC00077", true, false);
  auto devices = SystemPorts().MakeEnumerator();
  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->GetInstanceId(), u"USB\\VID_0403+PID_6010+VSC00077A\\ttyUSB0");
  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->GetInstanceId(), u"USB\\VID_0403+PID_6010+VSC00077B\\ttyUSB1");
  EXPECT_FALSE(devices->Next());

  auto first = SearchNextDevice();
  auto second = SearchNextDevice();
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first->deviceText, u"00077A");
  EXPECT_EQ(second->deviceText, u"00077B");
  // The identifier skips the last two characters, so both ports share it, as on Windows.
  EXPECT_EQ(first->uniqueId, 7);
  EXPECT_EQ(second->uniqueId, 7);
}

TEST_F(UdevPorts, OtherVendorsKeepTheBareSerial) {
  AddConverter("a", "067b", "2303", "VSC1234567", "ttyUSB0", "VSC1234567");
  auto devices = SystemPorts().MakeEnumerator();
  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->GetInstanceId(), u"USB\\VID_067b+PID_2303+VSC1234567\\ttyUSB0");
}

TEST_F(UdevPorts, FindDeviceThroughTheNativeLibraryGivesTheUniqueIds) {
  // VSC123456 is VSC123456A on Windows: remainder 123456A, identifier part 345.
  AddConverter("a", "0403", "6001", "VSC123456", "ttyUSB0", "VSC123456");
  AddConverter("b", "0403", "6001", "FT000001", "ttyUSB1", "FT000001");
  AddConverter("c", "0403", "6001", "A8001234", "ttyUSB2", "");
  vorn_host::VornLibrary lib;
  std::string error;
  ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  std::int32_t index = -1;
  ASSERT_EQ(lib.FindDevice(&index), 1);
  EXPECT_EQ(index, 0);
  ASSERT_EQ(lib.FindDevice(&index), 1);
  EXPECT_EQ(index, 1);
  std::int32_t first = 0, second = 0;
  EXPECT_EQ(lib.GetUniqueID(0, &first), 1);
  EXPECT_EQ(lib.GetUniqueID(1, &second), 1);
  EXPECT_EQ(first, 5465);
  EXPECT_EQ(second, 2);
  index = 42;
  EXPECT_EQ(lib.FindDevice(&index), 0);
  EXPECT_EQ(index, 42);
  EXPECT_EQ(lib.CloseAll(), 1);
  lib.Unload();
}

}  // namespace
}  // namespace vorn_test
