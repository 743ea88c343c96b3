// A session on the device peer's port, with a chunk sink that hands the received
// bytes to the host ring unchanged (the line assembler's place).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "device/vorn_serial.h"
#include "serial/device_peer.h"
#include "support/status.h"

namespace vorn_test {

class RawRingSink final : public OpenPlotr::ChunkSink {
 public:
  QVX::Status HandleChunk(const char *bytes, std::int32_t count) override {
    if (const int ms = holdMs.exchange(0)) {
      held = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      released = true;
    }
    if (session) session->PushLine(bytes, count);
    bytesSeen += count;
    chunks += 1;
    if (count > largest) largest = count;
    return failing ? QVX::kStatusFail : QVX::kStatusOk;
  }

  OpenPlotr::VornSerial *session = nullptr;
  std::atomic<std::int64_t> bytesSeen{0};
  std::atomic<std::int32_t> chunks{0};
  std::atomic<std::int32_t> largest{0};
  std::atomic<bool> failing{false};
  // The next chunk keeps the receive thread this long, as a slow line handler would.
  std::atomic<int> holdMs{0};
  std::atomic<bool> held{false};
  std::atomic<bool> released{false};
};

// Polls cond until it holds or timeoutMs have passed.
inline bool Eventually(const std::function<bool()> &cond, int timeoutMs = 3000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    peer = OpenDevicePeer(error);
    ASSERT_TRUE(peer) << error;
    ASSERT_TRUE(peer->Renew());
  }

  std::unique_ptr<DevicePeer> peer;
};

class SessionTest : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    if (HasFatalFailure()) return;
    session = std::make_unique<OpenPlotr::VornSerial>(peer->PortName(), 7, u"VSC0001");
    sink.session = session.get();
    session->SetChunkSink(&sink);
  }

  void TearDown() override { session.reset(); }

  bool Start() { return session->StartTransport(peer->PortName()) == QVX::kStatusOk; }

  std::unique_ptr<OpenPlotr::VornSerial> session;
  RawRingSink sink;
};

}  // namespace vorn_test
