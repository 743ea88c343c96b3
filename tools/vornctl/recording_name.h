// New names for recordings that are not named by the user: the page's
// recordings and the later parts of a recording from a publisher. A name is
// free when neither the file nor a recording left under its temporary name
// is there, so nothing is ever replaced.
#pragma once

#include <string>

namespace vornctl {

// "FOLDER/vorn-SERIAL-20261209-170640.csv", or "...-2.csv" and on when taken.
std::string FreshRecordingPath(const std::string &folder, const std::string &serial, const std::string &extension);

// A later part: "run.csv" -> "run-2.csv" for part 2, or the first free one
// after it (part is moved on to the number taken).
std::string NextPartPath(const std::string &path, int &part);

}  // namespace vornctl
