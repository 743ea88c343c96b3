#include "tools/vornctl/port_advice.h"

#include <cstdlib>

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

std::string PortOfDevice(std::int32_t index) {
  std::int32_t n = 0;
  for (const Entry &e : Entries(PortsVariable())) {
    if (!e.hasEquals || !LooksVorn(e.serial)) continue;
    if (n++ == index) return e.path;
  }
  return {};
}

}  // namespace vornctl
