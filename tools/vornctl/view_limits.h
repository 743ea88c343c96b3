// What one client of `vornctl view` may cost the server. The page's own
// requests are far below each bound; tools/vornctl/README.md lists them.
#pragma once

#include <chrono>
#include <cstddef>

namespace vornctl::view_limits {

// A request's line and header fields together, and how many fields.
constexpr std::size_t kHeadBytes = 16 * 1024;
constexpr std::size_t kHeaderFields = 100;
// A control's JSON body ({"channels":[...]} is the largest the page sends).
constexpr std::size_t kBodyBytes = 4 * 1024;
// From a connection's start (or its previous answer) to its request's last
// header byte, however slowly the bytes come; then to the body's last byte.
constexpr auto kHeadTime = std::chrono::seconds(10);
constexpr auto kBodyTime = std::chrono::seconds(10);
// An answer that the client does not take in this long ends its connection.
constexpr auto kWriteTime = std::chrono::seconds(10);
// A refused request's unread body is drained this long at most, so the
// client sees the answer instead of a reset.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kDrainBytes = 1024 * 1024;
// Open connections in all; beyond, the oldest one still waiting for its
// request makes room (one that has asked and is being answered is kept).
constexpr std::size_t kConnections = 256;
// Event streams (open pages) from one client address, and in all.
constexpr std::size_t kStreamsPerClient = 4;
constexpr std::size_t kStreams = 16;
// A page whose data has not moved on towards it for this long is cut off:
// its queue (and what the kernel holds for it) is given up.
constexpr auto kStalledStream = std::chrono::seconds(5);

}  // namespace vornctl::view_limits
