// The soak's results: a JSON file for the record and a table for the reader.
#pragma once

#include <string>
#include <vector>

#include "tools/vorn-soak/result.h"

namespace vorn_soak {

bool WriteJson(const std::string &path, const std::vector<Result> &results, bool passed);
void PrintTable(const std::vector<Result> &results);

}  // namespace vorn_soak
