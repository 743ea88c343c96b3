// A Windows test program that loads the driver plays the host application: it
// offers the host's environment class before the library is loaded, as the
// application does, so that the library's start-up finds it and does not try
// to bring up the framework itself.
#include <objbase.h>
#include <windows.h>

#include "host/fake_host_environment.h"

namespace {

struct TestHost {
  TestHost() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // Method 51 answers "no report wanted", so tests are not coupled to the report.
    environment.declineFlag = 1;
    CoRegisterClassObject(reinterpret_cast<const GUID &>(QVX::kClsidHostEnvironment),
                          reinterpret_cast<IUnknown *>(environment.Interface()), CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookie);
  }
  ~TestHost() {
    if (cookie) CoRevokeClassObject(cookie);
    CoUninitialize();
  }
  VornTest::FakeHostEnvironment environment;
  DWORD cookie = 0;
};

TestHost testHost;

}  // namespace
