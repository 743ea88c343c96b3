// vornctl --help.
#pragma once

#include <string>

namespace vornctl {

extern const char kUsageText[];

// What a network command says in a build without ZeroMQ.
std::string WithoutNetworkText(const std::string &command);

}  // namespace vornctl
