// Counts heap allocations made by the benchmark process (operator new replaced).
#pragma once

#include <atomic>
#include <cstdint>

namespace vorn_bench {

std::uint64_t AllocationCount();

}  // namespace vorn_bench
