#include "driver/device_table.h"

#include "device/vorn_serial.h"

namespace OpenPlotr {

DeviceTable::~DeviceTable() { DestroyAll(); }

VornSerial *DeviceTable::Lookup(std::int32_t index) const {
  const auto slot = static_cast<std::uint32_t>(index);
  if (slot >= sessions_.size()) return nullptr;
  return sessions_[slot].get();
}

std::int32_t DeviceTable::Append(std::unique_ptr<VornSerial> session) {
  sessions_.push_back(std::move(session));
  return static_cast<std::int32_t>(sessions_.size() - 1);
}

void DeviceTable::DestroyAll() { DestroyAll(SessionEnd{}); }

void DeviceTable::DestroyAll(SessionEnd end) {
  for (std::size_t n = sessions_.size(); n > 0; --n) {
    if (sessions_.back()) sessions_.back()->EndWith(end);
    sessions_.back().reset();
    sessions_.pop_back();
  }
}

VornSerial *DeviceTable::Newest() const {
  for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it) {
    if (*it) return it->get();
  }
  return nullptr;
}

namespace {
// Built by the constant initialisation, before any code of the library runs. A
// function-local static would be a one-time initialisation on the load path, and
// on Windows the static threading runtime keeps a record (two handles) of the
// thread that waited on one, which the unload does not free. The priority
// registers its destructor before the library's start-up runs, so that it goes
// only after the shut-down, also when the process exits (see module_posix.cpp).
[[gnu::init_priority(101)]] constinit DeviceTable table;
}  // namespace

DeviceTable &deviceTable() { return table; }

}  // namespace OpenPlotr
