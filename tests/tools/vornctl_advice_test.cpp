// vornctl's advice as text: which permission advice fits a port, how the
// driver's words are quoted and read, where discovery looked, and which
// devices share an identifier.
#include <gtest/gtest.h>

#include "tools/vornctl/device_lookup.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/port_holders.h"
#include "tools/vornctl/usb_ports.h"

namespace vorn_test {
namespace {

using namespace vornctl;

PortPermissions Port(unsigned mode, const char *owner, const char *group) {
  PortPermissions p;
  p.path = "/dev/ttyUSB0";
  p.mode = mode;
  p.owner = owner;
  p.group = group;
  p.user = "ada";
  p.groupIsRoot = std::string(group) == "root";
  return p;
}

TEST(PermissionAdvice, GroupAdviceOnlyWhereTheGroupMayReadAndWrite) {
  const std::string dialout = PermissionAdvice(Port(0660, "root", "dialout"));
  EXPECT_NE(dialout.find("you (ada) may not open /dev/ttyUSB0 (owner root, group dialout, mode 0660)"),
            std::string::npos)
      << dialout;
  EXPECT_NE(dialout.find("sudo usermod -aG dialout ada), then log in again"), std::string::npos) << dialout;

  // Already listed in the group, but this login predates it.
  PortPermissions listed = Port(0660, "root", "uucp");
  listed.inGroupListed = true;
  const std::string relog = PermissionAdvice(listed);
  EXPECT_NE(relog.find("you are in the group uucp, but this login session began before"), std::string::npos) << relog;
  EXPECT_NE(relog.find("newgrp uucp"), std::string::npos) << relog;
  EXPECT_EQ(relog.find("usermod"), std::string::npos) << relog;

  // Joining root's group is no advice to give.
  const std::string root = PermissionAdvice(Port(0660, "root", "root"));
  EXPECT_EQ(root.find("usermod"), std::string::npos) << root;
  EXPECT_NE(root.find("udev rule"), std::string::npos) << root;

  // Owner only: no group helps, whatever the group is.
  for (const char *group : {"dialout", "tty", "root"}) {
    for (unsigned mode : {0600u, 0620u, 0640u}) {
      const std::string text = PermissionAdvice(Port(mode, "root", group));
      EXPECT_NE(text.find("only root may open it, and joining a group does not help"), std::string::npos) << text;
      EXPECT_EQ(text.find("usermod"), std::string::npos) << text;
    }
  }
  PortPermissions pty = Port(0600, "bob", "bob");
  pty.path = "/dev/pts/7";
  pty.pseudoTerminal = true;
  const std::string ptyText = PermissionAdvice(pty);
  EXPECT_NE(ptyText.find("a pseudo-terminal that only bob may open"), std::string::npos) << ptyText;
  EXPECT_NE(ptyText.find("Start vorn-sim as yourself (ada), or run vornctl as bob"), std::string::npos) << ptyText;

  PortPermissions own = Port(0200, "ada", "dialout");
  own.userIsOwner = true;
  EXPECT_NE(PermissionAdvice(own).find("chmod u+rw /dev/ttyUSB0"), std::string::npos);
  // Mode bits that let everyone in: what keeps this user out is an ACL.
  EXPECT_NE(PermissionAdvice(Port(0666, "root", "dialout")).find("getfacl /dev/ttyUSB0"), std::string::npos);
}

TEST(DriverWords, QuotedOnOneLineAndReadForTheirCause) {
  EXPECT_EQ(DriverSays("A Vorn Device is connected, but can't be used due\nto wrong firmware version."),
            "the driver says: \"A Vorn Device is connected, but can't be used due to wrong firmware version.\"");
  EXPECT_EQ(DriverSays("not installed.\nPlease plug in.\n\nRefer to the guide\n"),
            "the driver says: \"not installed. Please plug in. Refer to the guide\"");
  EXPECT_EQ(ReadVerdict("A Vorn Device is connected, but can't be used due\nto wrong firmware version. Please contact"),
            DriverVerdict::WrongFirmware);
  EXPECT_EQ(ReadVerdict("The Vorn Device is not responding. Please restart the Device and restart Wavedesk."),
            DriverVerdict::NotResponding);
  EXPECT_EQ(ReadVerdict("The Vorn Device cannot be found."), DriverVerdict::Other);
}

UsbSerialPort Usb(const char *node, const char *vendor, const char *serial, const char *interfaceNumber = "00",
                  const char *attribute = "") {
  UsbSerialPort p;
  p.node = node;
  p.vendorId = vendor;
  p.productId = "6001";
  p.serial = serial;
  p.serialAttribute = attribute;
  p.interfaceNumber = interfaceNumber;
  return p;
}

TEST(WhereDiscoveryLooked, EachPortWithTheReasonItWasPassedBy) {
  const std::vector<UsbSerialPort> ports = {
      Usb("/dev/ttyUSB0", "067b", ""),                    // another maker's converter
      Usb("/dev/ttyUSB1", "0403", "FT000001"),            // FTDI, not a Vorn serial number
      Usb("/dev/ttyUSB2", "0403", "VSC00077", "01"),      // second port of a two-port converter
      Usb("/dev/ttyUSB3", "0403", "", "00", "A8001234"),  // no udev database: the USB attribute
      Usb("/dev/ttyUSB4", "0403", "", "00", ""),          // nothing to go by
  };
  EXPECT_EQ(DiscoverySerial(ports[2]), "VSC00077B");
  EXPECT_EQ(DiscoverySerial(ports[3]), "A8001234");
  const std::vector<std::string> lines = DescribeLookedAt(ports);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[0].find("/dev/ttyUSB0 (USB 067b:6001): not an FTDI converter"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("serial number FT000001A, not a Vorn one (those begin with VSC or A800)"), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find("serial number VSC00077B, a Vorn device"), std::string::npos) << lines[2];
  EXPECT_NE(lines[4].find("an FTDI converter without a serial number"), std::string::npos) << lines[4];

  const std::vector<UsbSerialPort> vorn = VornPortsAmong(ports);
  ASSERT_EQ(vorn.size(), 2u);
  EXPECT_EQ(vorn[0].node, "/dev/ttyUSB2");
  EXPECT_EQ(vorn[1].node, "/dev/ttyUSB3");
  EXPECT_FALSE(IsVornSerial("xVSC1"));
  EXPECT_FALSE(IsVornSerial("vsc1234"));
}

TEST(SharedIdentifiers, GroupedInOrderOnlyWhenShared) {
  const std::vector<SharedId> shared = SharedUniqueIds({{0, 0}, {1, 5465}, {2, 0}, {3, 7}, {4, 0}, {5, 7}});
  ASSERT_EQ(shared.size(), 2u);
  EXPECT_EQ(shared[0].id, 0);
  EXPECT_EQ(shared[0].devices, (std::vector<std::int32_t>{0, 2, 4}));
  EXPECT_EQ(shared[1].devices, (std::vector<std::int32_t>{3, 5}));
  EXPECT_TRUE(SharedUniqueIds({{0, 1}, {1, 2}}).empty());
  EXPECT_NE(SharedIdWarning(shared[0]).find("devices 0, 2 and 4 share the unique id 0x00000000"), std::string::npos);

  EXPECT_EQ(SerialTextOf("VSC1234567"), "1234567");
  EXPECT_EQ(SerialTextOf("A8001234"), "01234");
  EXPECT_EQ(SerialTextOf("FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000"), "00042A");
  EXPECT_EQ(SerialTextOf("FT000001"), "");
}

TEST(BusyPort, NamesEveryHolderTheSystemTold) {
  EXPECT_EQ(BusyText("/dev/ttyUSB0", {{4711, "minicom"}}),
            "/dev/ttyUSB0 is busy: process 4711 (minicom) holds it. Close that program or pick another device");
  EXPECT_NE(BusyText("/dev/ttyUSB0", {{1, "a"}, {2, ""}, {3, "c"}})
                .find("process 1 (a), process 2 and process 3 (c) hold it"),
            std::string::npos);
  EXPECT_NE(BusyText("/dev/ttyUSB0", {}).find("the system does not say which"), std::string::npos);
}

}  // namespace
}  // namespace vorn_test
