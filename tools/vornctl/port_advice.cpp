#include "tools/vornctl/port_advice.h"

#include <cstdio>
#include <cstdlib>

#include "tools/vornctl/usb_ports.h"

namespace vornctl {

namespace {

struct Entry {
  std::string text;
  std::string serial;
  std::string path;
  bool hasEquals = false;
};

std::vector<Entry> Entries(const std::string &value) {
  std::vector<Entry> entries;
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t end = value.find(';', start);
    Entry e;
    e.text = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t equals = e.text.find('=');
    e.hasEquals = equals != std::string::npos;
    if (e.hasEquals) {
      e.serial = e.text.substr(0, equals);
      e.path = e.text.substr(equals + 1);
    }
    if (!e.text.empty()) entries.push_back(e);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return entries;
}

// Discovery accepts serial numbers that begin with these; an instance
// identifier carries the serial number inside it.
bool LooksVorn(const std::string &serial) {
  return serial.find("VSC") != std::string::npos || serial.find("A800") != std::string::npos;
}

std::string PortsVariable() {
  const char *value = std::getenv("VORN_PORTS");
  return value ? value : "";
}

}  // namespace

std::vector<std::string> PortListNotes(const std::string &value) {
  std::vector<std::string> notes;
  for (const Entry &e : Entries(value)) {
    if (!e.hasEquals) {
      notes.push_back("VORN_PORTS entry '" + e.text + "' was skipped: it has no '=' (write SERIAL=PATH)");
    } else if (!LooksVorn(e.serial)) {
      notes.push_back("VORN_PORTS entry '" + e.text + "' was skipped: " + e.serial +
                      " is not a Vorn serial number (those begin with VSC or A800)");
    }
  }
  return notes;
}

std::vector<std::string> PortListNotes() { return PortListNotes(PortsVariable()); }

std::string PermissionAdvice(const PortPermissions &p) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", p.mode & 07777u);
  const std::string facts = " (owner " + p.owner + ", group " + p.group + ", mode " + mode + ")";
  const std::string start = "you (" + p.user + ") may not open " + p.path + facts + ": ";
  if (p.userIsOwner) return start + "it is yours but not readable and writable; chmod u+rw " + p.path;
  // The mode lets this user in, so an access control list keeps them out.
  if ((p.mode & 006u) == 006u || ((p.mode & 060u) == 060u && p.inGroupNow)) {
    return start + "an access control list keeps you out (getfacl " + p.path + ")";
  }
  if ((p.mode & 060u) == 060u) {
    if (p.groupIsRoot) {
      return start +
             "only root's group may use it; have the administrator give the port to a group of yours "
             "(a udev rule), or run vornctl with sudo";
    }
    if (p.inGroupListed && !p.inGroupNow) {
      return start + "you are in the group " + p.group +
             ", but this login session began before you were added: " + "log out and in again (or run 'newgrp " +
             p.group + "')";
    }
    return start + "add yourself to the group " + p.group + " (sudo usermod -aG " + p.group + " " + p.user +
           "), then log in again";
  }
  if (p.pseudoTerminal) {
    return start + "it is a pseudo-terminal that only " + p.owner + " may open, and joining a group does not help. " +
           "Start vorn-sim as yourself (" + p.user + "), or run vornctl as " + p.owner;
  }
  return start + "only " + p.owner + " may open it, and joining a group does not help; run vornctl as " + p.owner +
         ", or have the administrator give the port to a group of yours (a udev rule)";
}

DevicePort LocateDevice(std::int32_t index) {
  if (index < 0) return {};
  if (std::getenv("VORN_PORTS")) {
    std::int32_t n = 0;
    for (const Entry &e : Entries(PortsVariable())) {
      if (!e.hasEquals || !LooksVorn(e.serial)) continue;
      if (n++ == index) return {e.serial, e.path};
    }
    return {};
  }
  const auto ports = ListUsbSerialPorts();
  if (!ports) return {};
  const std::vector<UsbSerialPort> vorn = VornPortsAmong(*ports);
  if (static_cast<std::size_t>(index) >= vorn.size()) return {};
  const UsbSerialPort &port = vorn[static_cast<std::size_t>(index)];
  return {DiscoverySerial(port), port.node};
}

std::string PortOfDevice(std::int32_t index) { return LocateDevice(index).path; }

std::vector<std::string> NothingFoundNotes(const std::string &simulator) {
  std::vector<std::string> notes;
  const char *variable = std::getenv("VORN_PORTS");
  if (variable) {
    notes = PortListNotes(variable);
    notes.push_back(
        "VORN_PORTS is set, so the driver looked only at its entries; unset it to look for devices "
        "on the USB serial ports");
    return notes;
  }
  if (const auto ports = ListUsbSerialPorts()) {
    if (ports->empty()) {
      notes.push_back(
          "vornctl looked at udev's USB serial ports: there are none. Is the device plugged in and "
          "switched on?");
    } else {
      std::size_t ftdi = 0;
      for (const UsbSerialPort &p : *ports) ftdi += IsFtdiConverter(p) ? 1 : 0;
      notes.push_back("vornctl looked at udev's USB serial ports: " + std::to_string(ports->size()) + " found, " +
                      std::to_string(ftdi) + " of them FTDI converters:");
      for (const std::string &line : DescribeLookedAt(*ports)) notes.push_back("  " + line);
    }
  }
  if (simulator.empty()) {
    notes.push_back("to name a port yourself, set VORN_PORTS=SERIAL=PATH (see vornctl --help)");
  } else {
    notes.push_back("to try vornctl without hardware: 'vornctl demo', or start " + simulator +
                    " (it prints SERIAL=PATH) and give that line to VORN_PORTS, e.g. "
                    "VORN_PORTS=VSC1234567=/dev/pts/3 vornctl list");
  }
  return notes;
}

}  // namespace vornctl
