#include "tools/vornctl/usb_ports.h"

#include <cstdlib>

namespace vornctl {

bool IsFtdiConverter(const UsbSerialPort &port) { return port.vendorId == "0403"; }

bool IsVornSerial(const std::string &serial) { return serial.rfind("VSC", 0) == 0 || serial.rfind("A800", 0) == 0; }

std::string DiscoverySerial(const UsbSerialPort &port) {
  if (port.serial.empty()) {
    // The driver then asks for the converter behind the port, FTDI's only.
    if (!IsFtdiConverter(port)) return {};
    return port.serialAttribute;
  }
  if (!IsFtdiConverter(port)) return port.serial;
  long number = 0;
  if (!port.interfaceNumber.empty()) {
    char *end = nullptr;
    number = std::strtol(port.interfaceNumber.c_str(), &end, 16);
    if (*end != '\0' || number < 0 || number > 25) return port.serial;
  }
  return port.serial + static_cast<char>('A' + number);
}

std::vector<UsbSerialPort> VornPortsAmong(const std::vector<UsbSerialPort> &ports) {
  std::vector<UsbSerialPort> vorn;
  for (const UsbSerialPort &p : ports) {
    if (IsVornSerial(DiscoverySerial(p))) vorn.push_back(p);
  }
  return vorn;
}

std::vector<std::string> DescribeLookedAt(const std::vector<UsbSerialPort> &ports) {
  std::vector<std::string> lines;
  for (const UsbSerialPort &p : ports) {
    std::string line =
        p.node + " (USB " + p.vendorId + ":" + p.productId + (p.model.empty() ? "" : ", " + p.model) + ")";
    const std::string serial = DiscoverySerial(p);
    if (IsVornSerial(serial)) {
      line += ": serial number " + serial + ", a Vorn device";
    } else if (!IsFtdiConverter(p)) {
      line += ": not an FTDI converter (Vorn devices use FTDI's)";
    } else if (serial.empty()) {
      line += ": an FTDI converter without a serial number";
    } else {
      line += ": FTDI, serial number " + serial + ", not a Vorn one (those begin with VSC or A800)";
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace vornctl
