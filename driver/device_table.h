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
  DeviceTable(const DeviceTable &) = delete;
  DeviceTable &operator=(const DeviceTable &) = delete;

  // Null for an index outside the table (any negative index) or an empty slot.
  VornSerial *Lookup(std::int32_t index) const;
  // Appends and returns the new index.
  std::int32_t Append(std::unique_ptr<VornSerial> session);
  // Ends and frees the sessions from the last index to the first, telling each how the
  // library ends. One whose receive thread had to be abandoned is not freed (the
  // thread still uses it): it leaves the host's indexes and is kept.
  void DestroyAll();
  void DestroyAll(SessionEnd end);
  // The process is exiting while host threads may still be inside a session (a reader
  // waiting): every session sends X, stops its thread and closes its port, and is
  // kept, out of the host's reach, for the process's end to take.
  void EndAllKeepingMemory();
  // In a forked child: the sessions are the parent's, with its devices and threads.
  // They leave the host's indexes untouched (nothing is sent, stopped or freed).
  void DisownAll();
  // At the unload, after DestroyAll: frees the table's storage. Sessions kept out of
  // reach are let go of without being freed.
  void ReleaseStorage();
  // Sessions the host can reach.
  std::size_t Size() const { return sessions_.size() - kept_; }
  // The session the host was last told about.
  VornSerial *Newest() const;

 private:
  // The first kept_ entries are out of the host's reach and never freed.
  std::vector<std::unique_ptr<VornSerial>> sessions_;
  std::size_t kept_ = 0;
};

// Never destroyed: at the process's exit a host thread may still use a session; the
// unload frees everything through DestroyAll and ReleaseStorage.
DeviceTable &deviceTable();

}  // namespace OpenPlotr
