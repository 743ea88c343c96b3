// A host process without the environment class: the library has to bring the
// framework up from the Apx.dll beside this executable. The exit code tells
// the parent test what happened.
#include <windows.h>
#include <ole2.h>

#include <cstring>

#include "host/exceptions.h"
#include "host/host_environment.h"
#include "host/prerelease_report.h"

namespace vorn_test {
namespace {

// After the host's own uninitialisation OLE must be down: the library gave back its extra count.
int BalancedOrNot() {
  OleUninitialize();
  IUnknown *probe = nullptr;
  HRESULT result = CoGetClassObject(reinterpret_cast<const GUID &>(QVX::kClsidHostFramework), CLSCTX_INPROC_SERVER,
                                    nullptr, IID_IUnknown, reinterpret_cast<void **>(&probe));
  if (probe) probe->Release();
  return result == CO_E_NOTINITIALIZED ? 20 : 21;
}

}  // namespace
}  // namespace vorn_test

int main(int argc, char **argv) {
  using namespace vorn_test;
  const char *mode = argc > 1 ? argv[1] : "";
  // "preinit" and "report": the host thread has OLE already, so the library's start-up answers "already initialised".
  bool preinit = std::strcmp(mode, "preinit") == 0 || std::strcmp(mode, "report") == 0;
  if (preinit) OleInitialize(nullptr);
  if (std::strcmp(mode, "report") == 0) {
    QVX::ReportPrereleaseBuild();
    return 40;
  }
  try {
    return QVX::GetHostEnvironment() ? 10 : 11;
  } catch (const QVX::XQVX &) {
    return preinit ? BalancedOrNot() : 22;
  } catch (const QVX::XHResult &) {
    return 30;
  }
}
