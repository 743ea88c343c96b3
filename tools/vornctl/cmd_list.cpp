// list: every device the driver finds, initialised to read who it is.
#include <cstdio>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/text_table.h"

namespace vornctl {

int ListCommand(Context &context, const ListOptions &) {
  if (!context.LoadOrComplain()) return kExitFailure;
  const vorn_host::VornLibrary &lib = context.lib;
  const std::vector<std::int32_t> found = FindAllDevices(lib);
  if (found.empty()) {
    Complain("no device found: " + GeneralMessage(lib));
    return kExitFailure;
  }
  TextTable table({"index", "serial", "unique id", "product", "version"});
  std::vector<std::string> failures;
  std::string error;
  for (std::int32_t index : found) {
    DeviceIdentity id;
    if (!ReadIdentity(lib, index, id, error)) {
      table.Add({std::to_string(index), "-", UniqueIdText(id.uniqueId), "-", "-"});
      failures.push_back("device " + std::to_string(index) + ": " + error);
      continue;
    }
    table.Add({std::to_string(index), id.serial, UniqueIdText(id.uniqueId), id.product, id.version});
  }
  std::fputs(table.Text().c_str(), stdout);
  for (const std::string &f : failures) Complain(f);
  return failures.empty() ? kExitOk : kExitFailure;
}

}  // namespace vornctl
