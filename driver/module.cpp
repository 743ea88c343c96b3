#include "driver/module.h"

#include <atomic>

#include "device/vorn_serial.h"
#include "discovery/discovery.h"
#include "driver/device_table.h"
#include "host/locale_environment.h"
#include "host/prerelease_report.h"
#include "resources/library_resources.h"
#include "support/locale_info.h"
#include "support/code_page_system.h"

namespace OpenPlotr {

namespace {
std::atomic<bool> processExiting{false};
std::atomic<bool> detaching{false};
bool systemPortsReady = false;
// Detach may be reached twice on POSIX (the exit handler, then the loader's
// destructor); only the first runs.
bool attached = false;
}  // namespace

void CloseEverything() {
  deviceTable().DestroyAll(SessionEnd{processExiting, detaching});
  DiscardDiscoveryState();
}

void ModuleAttach(void *instance) {
  // Before anything reads the locale snapshot: its warnings use the host's texts.
  QVX::UseLocaleEnvironment(QVX::ProcessLocaleEnvironment());
  // The table and the system ports exist before the first export can run. Made
  // here, the process-wide objects are destroyed only after the detach (see module_posix.cpp).
  try {
    deviceTable();
    PrepareDiscoveryState();
    QVX::PrepareSystemConverters();
    PrepareSystemPorts();
    systemPortsReady = true;
  } catch (...) {
  }
  attached = true;
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
  if (!attached) return;
  attached = false;
  processExiting = exiting;
  detaching = true;
  try {
    CloseEverything();
    deviceTable().ReleaseStorage();
  } catch (...) {
  }
  detaching = false;
  // The installed number facets are the library's code: the process must not keep them past the unload.
  QVX::RestoreProcessLocale();
  QVX::ReleaseLocaleInfo();
  QVX::ReleaseSystemConverters();
  SetModuleInstance(nullptr);
  // Only after the sessions and the enumerator are gone may the system ports go (the Setup API).
  if (systemPortsReady) {
    try {
      ReleaseSystemPorts();
    } catch (...) {
    }
    systemPortsReady = false;
  }
}

void ModuleProcessExit() {
  if (!attached) return;
  attached = false;
  try {
    deviceTable().EndAllKeepingMemory();
    DiscardDiscoveryState();
  } catch (...) {
  }
  // What a host thread may still reach (the sessions, the converters, the locale
  // snapshot) stays for the process's end; the host's locale is put back as at an unload.
  QVX::RestoreProcessLocale();
  SetModuleInstance(nullptr);
}

void ModuleForked() { deviceTable().DisownAll(); }

}  // namespace OpenPlotr
