#include "driver/module.h"

#include <atomic>

#include "discovery/discovery.h"
#include "driver/device_table.h"
#include "host/prerelease_report.h"
#include "resources/library_resources.h"

namespace OpenPlotr {

namespace {
std::atomic<bool> processExiting{false};
std::atomic<bool> detaching{false};
bool setupApiLoaded = false;
}

bool ProcessIsExiting() { return processExiting; }
bool ModuleIsDetaching() { return detaching; }

void CloseEverything() {
  deviceTable().DestroyAll();
  DiscardDiscoveryState();
}

void ModuleAttach(void *instance) {
  // The table and the Setup API loader exist before the first export can run.
  try {
    deviceTable();
    LoadSetupApi();
    setupApiLoaded = true;
  } catch (...) {
  }
  SetModuleInstance(instance);
  try {
    deviceTable().DestroyAll();
  } catch (...) {
  }
  // The report may start the host framework, which can throw; the library loads regardless.
  try {
    QVX::ReportPrereleaseBuild();
  } catch (...) {
  }
}

void ModuleDetach(bool exiting) {
  processExiting = exiting;
  detaching = true;
  try {
    CloseEverything();
  } catch (...) {
  }
  detaching = false;
  SetModuleInstance(nullptr);
  // Only after the sessions and the enumerator are gone may the Setup API go.
  if (setupApiLoaded) {
    try {
      UnloadSetupApi();
    } catch (...) {
    }
    setupApiLoaded = false;
  }
}

}  // namespace OpenPlotr
