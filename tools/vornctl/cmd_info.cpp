// info N: what device N says about itself.
#include <algorithm>
#include <cstdio>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/device_lookup.h"
#include "tools/vornctl/json_text.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/text_table.h"

namespace vornctl {

namespace {

std::string Bound(const ChannelInfo &c, double v) {
  if (!c.hasRange) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string Json(const DeviceDescription &device) {
  const DeviceIdentity &id = device.identity;
  std::string text = "{\"index\": " + std::to_string(id.index) + ", \"serial\": " + JsonString(id.serial) +
                     ", \"unique_id\": " + (id.uniqueId ? JsonString(UniqueIdText(id.uniqueId)) : "null") +
                     ", \"product\": " + JsonString(id.product) + ", \"version\": " + JsonString(id.version) +
                     ",\n \"channels\": [";
  for (std::size_t i = 0; i < device.channels.size(); ++i) {
    const ChannelInfo &c = device.channels[i];
    const std::optional<double> lo = c.hasRange ? std::optional(c.minimum) : std::nullopt;
    const std::optional<double> hi = c.hasRange ? std::optional(c.maximum) : std::nullopt;
    text += std::string(i ? ",\n  " : "\n  ") + "{\"position\": " + std::to_string(c.position) +
            ", \"name\": " + JsonString(c.name) + ", \"unit\": " + JsonString(c.unit) +
            ", \"minimum\": " + JsonNumber(lo) + ", \"maximum\": " + JsonNumber(hi) +
            ", \"range_text\": " + JsonString(c.rangeText) + "}";
  }
  text += "],\n \"periods_us\": [";
  for (std::size_t i = 0; i < device.periodsUs.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(NominalPeriodUs(device.periodsUs[i]));
  }
  text += "],\n \"listed_periods_us\": [";
  for (std::size_t i = 0; i < device.periodsUs.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(device.periodsUs[i]);
  }
  text += "],\n \"control_list_bytes\": " +
          (device.controlListBytes ? std::to_string(*device.controlListBytes) : std::string("null")) + "}\n";
  return text;
}

}  // namespace

int InfoCommand(Context &context, const InfoOptions &options) {
  if (options.device.empty() || options.device.front() == '-') {
    Complain("usage: vornctl info N|SERIAL (a device index or serial text from 'vornctl list')");
    return kExitUsage;
  }
  if (!context.LoadOrComplain()) return kExitFailure;
  std::string error;
  std::vector<std::int32_t> found;
  std::int32_t index = -1;
  DeviceDescription device;
  if (!FindDevices(context.lib, found, error) || !ResolveDevice(context.lib, found, options.device, index, error) ||
      !DescribeDevice(context.lib, index, device, error)) {
    Complain(error);
    return kExitFailure;
  }
  for (const SharedId &s : SharedUniqueIds(context.lib, found)) {
    if (std::find(s.devices.begin(), s.devices.end(), index) != s.devices.end()) Complain(SharedIdWarning(s));
  }
  if (options.json) {
    std::fputs(Json(device).c_str(), stdout);
    return kExitOk;
  }
  const DeviceIdentity &id = device.identity;
  std::printf("device %d: serial %s, unique id %s, %s, version %s\n", index, id.serial.c_str(),
              UniqueIdText(id.uniqueId).c_str(), id.product.c_str(), id.version.c_str());
  std::printf("\nchannels:\n");
  TextTable channels({"  position", "name", "unit", "minimum", "maximum", "range text"});
  for (const ChannelInfo &c : device.channels) {
    channels.Add({"  " + std::to_string(c.position), c.name, c.unit.empty() ? "-" : c.unit, Bound(c, c.minimum),
                  Bound(c, c.maximum), c.rangeText.empty() ? "-" : c.rangeText});
  }
  std::fputs(device.channels.empty() ? "  none\n" : channels.Text().c_str(), stdout);
  std::printf("\nperiods (as listed by the driver, in microseconds):\n");
  if (device.periodsUs.empty()) std::printf("  none\n");
  for (std::int32_t us : device.periodsUs) {
    const std::int64_t nominal = NominalPeriodUs(us);
    std::string note;
    if (nominal != us) note = "  (" + std::to_string(nominal) + " us, truncated in the driver's list)";
    std::printf("  %d us = %g ms%s\n", us, static_cast<double>(nominal) / 1000.0, note.c_str());
  }
  if (device.controlListBytes) {
    std::printf("\ncontrol list: %zu bytes\n", *device.controlListBytes);
  } else {
    std::printf("\ncontrol list: none\n");
  }
  return kExitOk;
}

}  // namespace vornctl
