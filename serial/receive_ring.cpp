#include "serial/receive_ring.h"

#include <cstring>

namespace OpenPlotr {

ReceiveRing::ReceiveRing() : data(new std::uint8_t[capacity]) {}

std::int32_t ReceiveRing::FreeSpace(std::int32_t write) const {
  const std::int32_t read = readPos.load(std::memory_order_acquire);
  return kMaxWaiting - ((write - read) & (capacity - 1));
}

void ReceiveRing::Store(std::int32_t write, const char *bytes, std::int32_t count) {
  const std::int32_t first = count < capacity - write ? count : capacity - write;
  std::memcpy(&data[static_cast<std::size_t>(write)], bytes, static_cast<std::size_t>(first));
  std::memcpy(&data[0], bytes + first, static_cast<std::size_t>(count - first));
  writePos.store((write + count) & (capacity - 1), std::memory_order_release);
}

bool ReceiveRing::PushByte(std::uint8_t byte) {
  const std::int32_t write = writePos.load(std::memory_order_relaxed);
  const std::int32_t next = Next(write);
  if (next == readPos.load(std::memory_order_acquire)) return false;
  data[static_cast<std::size_t>(write)] = byte;
  writePos.store(next, std::memory_order_release);
  return true;
}

bool ReceiveRing::PushLine(const char *bytes, std::int32_t count) {
  if (count <= 0) return count == 0;
  const std::int32_t write = writePos.load(std::memory_order_relaxed);
  if (count > FreeSpace(write)) return false;
  Store(write, bytes, count);
  return true;
}

bool ReceiveRing::PushText(std::u16string_view text) {
  if (text.size() > static_cast<std::size_t>(kMaxWaiting)) return false;
  const auto count = static_cast<std::int32_t>(text.size());
  std::int32_t write = writePos.load(std::memory_order_relaxed);
  if (count > FreeSpace(write)) return false;
  for (const char16_t c : text) {
    data[static_cast<std::size_t>(write)] = static_cast<std::uint8_t>(c & 0xFF);
    write = Next(write);
  }
  writePos.store(write, std::memory_order_release);
  return true;
}

std::int32_t ReceiveRing::BytesWaiting() const {
  const std::int32_t write = writePos.load(std::memory_order_acquire);
  const std::int32_t read = readPos.load(std::memory_order_relaxed);
  return (write - read) & (capacity - 1);
}

std::int32_t ReceiveRing::Take(char *out, std::int32_t count) {
  const std::int32_t read = readPos.load(std::memory_order_relaxed);
  const std::int32_t waiting = (writePos.load(std::memory_order_acquire) - read) & (capacity - 1);
  if (count > waiting) count = waiting;
  if (count <= 0) return 0;
  const std::int32_t first = count < capacity - read ? count : capacity - read;
  std::memcpy(out, &data[static_cast<std::size_t>(read)], static_cast<std::size_t>(first));
  std::memcpy(out + first, &data[0], static_cast<std::size_t>(count - first));
  readPos.store((read + count) & (capacity - 1), std::memory_order_release);
  return count;
}

void ReceiveRing::ResetForHost() { readPos.store(writePos.load(std::memory_order_acquire), std::memory_order_release); }

}  // namespace OpenPlotr
