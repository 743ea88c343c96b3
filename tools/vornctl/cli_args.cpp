#include "tools/vornctl/cli_args.h"

#include <charconv>
#include <cmath>

namespace vornctl {

std::optional<std::string> CommandArgs::Value(const std::string &name) const {
  const auto it = values.find(name);
  if (it == values.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> CommandArgs::All(const std::string &name) const {
  const auto it = values.find(name);
  return it == values.end() ? std::vector<std::string>{} : it->second;
}

bool ParseCommandArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs, CommandArgs &out,
                      std::string &error) {
  out = CommandArgs{};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      out.positional.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionSpec *given = nullptr;
    for (const OptionSpec &s : specs) {
      if (s.name == name) given = &s;
    }
    if (!given) {
      error = "unknown option --" + name;
      return false;
    }
    if (out.Has(name) && !given->repeatable) {
      error = "--" + name + " given twice";
      return false;
    }
    std::string value;
    if (given->takesValue) {
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        error = "--" + name + " needs a value";
        return false;
      }
    } else if (equals != std::string::npos) {
      error = "--" + name + " takes no value";
      return false;
    }
    out.values[name].push_back(value);
  }
  return true;
}

std::optional<int> ParseIndex(const std::string &text) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 0) return std::nullopt;
  return v;
}

std::optional<double> ParseSeconds(const std::string &text) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v < 0) {
    return std::nullopt;
  }
  return v;
}

}  // namespace vornctl
