#include "driver/device_table.h"

#include <algorithm>

#include "device/vorn_serial.h"

namespace OpenPlotr {

VornSerial *DeviceTable::Lookup(std::int32_t index) const {
  const auto slot = static_cast<std::uint32_t>(index);
  if (slot >= Size()) return nullptr;
  return sessions_[kept_ + slot].get();
}

std::int32_t DeviceTable::Append(std::unique_ptr<VornSerial> session) {
  sessions_.push_back(std::move(session));
  return static_cast<std::int32_t>(Size() - 1);
}

void DeviceTable::DestroyAll() { DestroyAll(SessionEnd{}); }

void DeviceTable::DestroyAll(SessionEnd end) {
  while (sessions_.size() > kept_) {
    std::unique_ptr<VornSerial> &last = sessions_.back();
    if (!last || last->End(end)) {
      sessions_.pop_back();
      continue;
    }
    // Moved in front of the host's entries, without an allocation.
    std::rotate(sessions_.begin() + static_cast<std::ptrdiff_t>(kept_), sessions_.end() - 1, sessions_.end());
    ++kept_;
  }
}

void DeviceTable::EndAllKeepingMemory() {
  for (std::size_t n = sessions_.size(); n > kept_; --n) {
    if (VornSerial *session = sessions_[n - 1].get()) session->End(SessionEnd{});
  }
  kept_ = sessions_.size();
}

void DeviceTable::DisownAll() { kept_ = sessions_.size(); }

void DeviceTable::ReleaseStorage() {
  for (std::size_t n = 0; n < kept_; ++n) static_cast<void>(sessions_[n].release());
  std::vector<std::unique_ptr<VornSerial>>().swap(sessions_);
  kept_ = 0;
}

VornSerial *DeviceTable::Newest() const {
  for (std::size_t n = sessions_.size(); n > kept_; --n) {
    if (sessions_[n - 1]) return sessions_[n - 1].get();
  }
  return nullptr;
}

namespace {
// Built by the constant initialisation, before any code of the library runs, and
// never destroyed. A function-local static would be a one-time initialisation on
// the load path, and on Windows the static threading runtime keeps a record (two
// handles) of the thread that waited on one, which the unload does not free.
union TableStorage {
  DeviceTable table;
  constexpr TableStorage() : table() {}
  ~TableStorage() {}
};
constinit TableStorage storage;
}  // namespace

DeviceTable &deviceTable() { return storage.table; }

}  // namespace OpenPlotr
