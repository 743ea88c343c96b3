// info N: what device N says about itself.
#include <cstdio>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/device_lookup.h"
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

}  // namespace

int InfoCommand(Context &context, const InfoOptions &options) {
  const std::optional<int> index = ParseIndex(options.device);
  if (!index) {
    Complain("usage: vornctl info N (a device index from 'vornctl list')");
    return kExitUsage;
  }
  if (!context.LoadOrComplain()) return kExitFailure;
  std::string error;
  DeviceDescription device;
  if (!DescribeDevice(context.lib, *index, device, error)) {
    Complain(error);
    return kExitFailure;
  }
  const DeviceIdentity &id = device.identity;
  std::printf("device %d: serial %s, unique id %s, %s, version %s\n", *index, id.serial.c_str(),
              UniqueIdText(id.uniqueId).c_str(), id.product.c_str(), id.version.c_str());
  std::printf("\nchannels:\n");
  TextTable channels({"  position", "name", "unit", "minimum", "maximum", "range text"});
  for (const ChannelInfo &c : device.channels) {
    channels.Add({"  " + std::to_string(c.position), c.name, c.unit.empty() ? "-" : c.unit, Bound(c, c.minimum),
                  Bound(c, c.maximum), c.rangeText.empty() ? "-" : c.rangeText});
  }
  std::fputs(device.channels.empty() ? "  none\n" : channels.Text().c_str(), stdout);
  if (device.unitsIncomplete) {
    std::printf(
        "  note: the device reports some units as \"na\", which the driver leaves out of its\n"
        "  unit list, so from the first such channel on a unit may belong to a later channel.\n");
  }
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
