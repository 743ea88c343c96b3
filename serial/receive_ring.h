// ReceiveRing: the bytes waiting for the host. One producer (the receive thread's
// line handlers) and one consumer (the host's read calls), no lock: each side owns
// one index and publishes it with release after the bytes it covers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

namespace OpenPlotr {

class ReceiveRing {
 public:
  static constexpr std::int32_t capacity = 0x10000;
  // One slot always stays free, so that a full ring is told apart from an empty one.
  static constexpr std::int32_t kMaxWaiting = capacity - 1;

  ReceiveRing();
  ReceiveRing(const ReceiveRing &) = delete;
  ReceiveRing &operator=(const ReceiveRing &) = delete;

  static constexpr std::int32_t Next(std::int32_t pos) { return (pos + 1) & (capacity - 1); }

  // Producer side. A byte, or a whole line, that does not fit is dropped without report;
  // a line is stored whole or not at all, so the host never reads a cut sample line.
  bool PushByte(std::uint8_t byte);
  bool PushLine(const char *bytes, std::int32_t count);
  // The low 8 bits of every character, whole or not at all.
  bool PushText(std::u16string_view text);

  // Consumer side.
  std::int32_t BytesWaiting() const;
  // Takes up to count bytes into out; the number taken.
  std::int32_t Take(char *out, std::int32_t count);
  // Discards what is waiting by moving readPos up to the writePos seen now: bytes
  // appended meanwhile stay, and the producer's index is never written from here.
  void ResetForHost();

  // For the consumer's look-ahead without taking.
  std::int32_t ReadPosition() const { return readPos.load(std::memory_order_relaxed); }
  std::int32_t WritePosition() const { return writePos.load(std::memory_order_acquire); }
  std::uint8_t At(std::int32_t pos) const { return data[static_cast<std::size_t>(pos)]; }
  // Moves readPos on to pos after the bytes before it have been copied out.
  void ConsumeTo(std::int32_t pos) { readPos.store(pos, std::memory_order_release); }

 private:
  std::int32_t FreeSpace(std::int32_t write) const;
  void Store(std::int32_t write, const char *bytes, std::int32_t count);

  std::atomic<std::int32_t> readPos{0};
  std::atomic<std::int32_t> writePos{0};
  std::unique_ptr<std::uint8_t[]> data;
};

}  // namespace OpenPlotr
