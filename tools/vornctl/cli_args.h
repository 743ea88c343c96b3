// Command-line options of one vornctl command.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vornctl {

struct OptionSpec {
  std::string name;  // without the leading "--"
  bool takesValue = true;
  bool repeatable = false;
};

struct CommandArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;  // flags hold one empty value

  bool Has(const std::string &name) const { return values.count(name) != 0; }
  std::optional<std::string> Value(const std::string &name) const;
  std::vector<std::string> All(const std::string &name) const;
};

// "--name value" and "--name=value"; anything else starting with "--" that
// the command does not know is an error, and so is an option given twice.
bool ParseCommandArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs, CommandArgs &out,
                      std::string &error);

// A whole, non-negative decimal number.
std::optional<int> ParseIndex(const std::string &text);
// A non-negative number of seconds.
std::optional<double> ParseSeconds(const std::string &text);

}  // namespace vornctl
