#include "discovery/discovery.h"

#include "discovery/port_source.h"
#include "discovery/serial_key.h"

namespace OpenPlotr {

namespace {

// Created by the first search, discarded together. The enumerator's position
// is where the next search goes on.
struct DiscoveryState {
  std::unique_ptr<PortSource> source;
  std::unique_ptr<FtdiLookup> ftdiLibrary;
  std::unique_ptr<DevRegEnum> deviceEnumerator;
};

// Built by the constant initialisation, with no one-time initialisation on the load
// path (on Windows a guarded static there leaves the static threading runtime's
// record of the loading thread, two handles, behind at every unload). The priority
// registers its destructor before the library's start-up runs, so that it is
// destroyed only after the shut-down that discards it, also when the process exits.
[[gnu::init_priority(101)]] constinit DiscoveryState state;

DiscoveryState &State() { return state; }

// Outlive the state they describe: the general message asks after the search ended.
constinit int devicesThisSearch = 0;
constinit bool portListYieldedNothing = false;

// The serial number of the current device: cut from its instance identifier,
// or, when that gives nothing, asked of the converter on its registered port.
std::u16string CurrentKey(DevRegEnum &devices, PortSource &source, FtdiLookup &ftdi) {
  std::u16string key = ExtractSerial(devices.GetInstanceId(), u'+');
  if (!key.empty()) return key;
  std::u16string comPortName;
  if (!source.ReadPortName(devices.GetInstanceId(), comPortName)) comPortName.clear();
  std::u16string serial;
  if (ftdi.FindFtdiSerial(comPortName, serial)) return serial;
  return {};
}

}  // namespace

void PrepareDiscoveryState() { State(); }

std::optional<FoundDevice> SearchNextDevice() {
  DiscoveryState &discovery = State();
  if (!discovery.ftdiLibrary) {
    discovery.source = MakePortSource();
    discovery.ftdiLibrary = discovery.source->MakeFtdiLookup();
    devicesThisSearch = 0;
    portListYieldedNothing = false;
  }
  // The record stays with its flag, so the general message can name the problem.
  if (!discovery.ftdiLibrary->Usable()) return std::nullopt;
  if (!discovery.deviceEnumerator) discovery.deviceEnumerator = discovery.source->MakeEnumerator();

  DevRegEnum &devices = *discovery.deviceEnumerator;
  while (devices.Next()) {
    const std::u16string key = CurrentKey(devices, *discovery.source, *discovery.ftdiLibrary);
    std::optional<std::u16string> remainder = VornSerialRemainder(key);
    if (!remainder) continue;
    std::u16string portPath;
    devices.GetDevicePath(portPath);
    const std::int32_t id = UniqueIdFromSerial(*remainder);
    ++devicesThisSearch;
    return FoundDevice{std::move(portPath), id, std::move(*remainder)};
  }
  portListYieldedNothing = devicesThisSearch == 0 && discovery.source->ReplacesSystemPorts();
  // The next search starts from a fresh list and a fresh look at the FTDI library.
  DiscardDiscoveryState();
  return std::nullopt;
}

void DiscardDiscoveryState() {
  DiscoveryState &discovery = State();
  discovery.deviceEnumerator.reset();
  discovery.ftdiLibrary.reset();
  discovery.source.reset();
}

bool CurrentFtdiFlags(FtdiFlags &out) {
  const DiscoveryState &discovery = State();
  if (!discovery.ftdiLibrary) return false;
  out = discovery.ftdiLibrary->Flags();
  return true;
}

bool DeviceEnumeratorExists() { return State().deviceEnumerator != nullptr; }

bool PortListYieldedNothing() { return portListYieldedNothing; }

}  // namespace OpenPlotr
