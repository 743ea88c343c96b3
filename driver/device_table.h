// The process-wide device table: the host's device index is a position in it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace OpenPlotr {

class VornSerial;
struct SessionEnd;

class DeviceTable {
 public:
  constexpr DeviceTable() = default;
  ~DeviceTable();
  DeviceTable(const DeviceTable &) = delete;
  DeviceTable &operator=(const DeviceTable &) = delete;

  // Null for an index outside the table (any negative index) or an empty slot.
  VornSerial *Lookup(std::int32_t index) const;
  // Appends and returns the new index.
  std::int32_t Append(std::unique_ptr<VornSerial> session);
  // Destroys the sessions from the last index to the first, telling each how the library ends.
  void DestroyAll();
  void DestroyAll(SessionEnd end);
  std::size_t Size() const { return sessions_.size(); }
  // The session the host was last told about.
  VornSerial *Newest() const;

 private:
  std::vector<std::unique_ptr<VornSerial>> sessions_;
};

DeviceTable &deviceTable();

}  // namespace OpenPlotr
