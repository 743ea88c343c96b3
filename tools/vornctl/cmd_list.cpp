// list: every device the driver finds, initialised to read who it is.
#include <algorithm>
#include <cstdio>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/device_lookup.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/json_text.h"
#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/text_table.h"

namespace vornctl {

namespace {

struct Row {
  std::int32_t index = 0;
  DeviceIdentity id;
  std::string state;  // ok, incomplete, failed
  std::string error;
  bool sharedId = false;
};

std::string Json(const std::vector<Row> &rows) {
  std::string text = "{\"devices\": [";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row &r = rows[i];
    text += std::string(i ? ",\n  " : "\n  ") + "{\"index\": " + std::to_string(r.index) +
            ", \"serial\": " + JsonString(r.id.serial) +
            ", \"unique_id\": " + (r.id.uniqueId ? JsonString(UniqueIdText(r.id.uniqueId)) : "null") +
            ", \"product\": " + JsonString(r.id.product) + ", \"version\": " + JsonString(r.id.version) +
            ", \"shared_unique_id\": " + (r.sharedId ? "true" : "false") + ", \"state\": " + JsonString(r.state) +
            ", \"error\": " + (r.error.empty() ? "null" : JsonString(r.error)) + "}";
  }
  return text + (rows.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace

int ListCommand(Context &context, const ListOptions &options) {
  if (!context.LoadOrComplain()) return kExitFailure;
  const vorn_host::VornLibrary &lib = context.lib;
  std::vector<std::int32_t> found;
  std::string error;
  if (!FindDevices(lib, found, error)) {
    if (options.json) std::fputs(Json({}).c_str(), stdout);
    Complain(error);
    return kExitFailure;
  }
  std::vector<Row> rows;
  for (std::int32_t index : found) {
    Row row;
    row.index = index;
    if (ReadIdentity(lib, index, row.id, error)) {
      row.state = "ok";
    } else {
      row.state = row.id.incomplete ? "incomplete" : "failed";
      row.error = error;
      // The identity discovery found it by, so a failed device is still named.
      if (row.id.serial.empty()) row.id.serial = SerialTextOf(LocateDevice(index).serial);
    }
    rows.push_back(row);
  }
  const std::vector<SharedId> shared = SharedUniqueIds(lib, found);
  for (const SharedId &s : shared) {
    for (Row &r : rows) {
      if (std::find(s.devices.begin(), s.devices.end(), r.index) != s.devices.end()) r.sharedId = true;
    }
  }
  bool anyFailed = false;
  if (options.json) {
    std::fputs(Json(rows).c_str(), stdout);
  } else {
    TextTable table({"index", "serial", "unique id", "product", "version"});
    for (const Row &r : rows) {
      const bool ok = r.state == "ok";
      const std::string serial = r.id.serial.empty() ? "-" : r.id.serial;
      const std::string id = UniqueIdText(r.id.uniqueId) + (r.sharedId ? " (shared)" : "");
      table.Add(
          {std::to_string(r.index), serial, id, ok ? r.id.product : "(" + r.state + ")", ok ? r.id.version : "-"});
    }
    std::fputs(table.Text().c_str(), stdout);
  }
  for (const SharedId &s : shared) Complain(SharedIdWarning(s));
  for (const Row &r : rows) {
    if (r.state == "ok") continue;
    anyFailed = true;
    Complain("device " + std::to_string(r.index) + ": " + r.error);
  }
  return anyFailed ? kExitFailure : kExitOk;
}

}  // namespace vornctl
