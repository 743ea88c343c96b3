// A trace as one line of Unicode block characters for the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/vornctl/envelope.h"

namespace vornctl {

// One character per column, the lowest of the eight blocks for low and the
// full block for the highest mean; a column without values is a space. A
// flat trace is drawn at the lowest level. UTF-8.
std::string Sparkline(const std::vector<EnvelopeBucket> &buckets, std::size_t width);

}  // namespace vornctl
