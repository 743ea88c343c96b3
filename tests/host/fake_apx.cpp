// Stand-ins for the host framework library "Apx.dll". The full variant hands
// out the framework class and, as the host's framework does when it comes up,
// registers the host environment class. FAKE_APX_FAILING refuses the class.
#include <windows.h>
#include <objbase.h>

#include "host/host_environment.h"
#include "tools/hostlib/host_environment.h"

namespace vorn_test {
namespace {

class FrameworkClass final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (iid == IID_IUnknown) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

FrameworkClass framework;
vorn_host::HostEnvironmentObject environment;
DWORD environmentCookie = 0;

}  // namespace
}  // namespace vorn_test

// The exports keep their plain names, outside any namespace.
using namespace vorn_test;

#if defined(FAKE_APX_full) || defined(FAKE_APX_failing)
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
  *out = nullptr;
#if defined(FAKE_APX_failing)
  return CLASS_E_CLASSNOTAVAILABLE;
#else
  if (clsid != reinterpret_cast<const GUID &>(QVX::kClsidHostFramework)) return CLASS_E_CLASSNOTAVAILABLE;
  if (!environmentCookie)
    CoRegisterClassObject(reinterpret_cast<const GUID &>(QVX::kClsidHostEnvironment),
                          reinterpret_cast<IUnknown *>(environment.Interface()), CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &environmentCookie);
  return framework.QueryInterface(iid, out);
#endif
}
#else
extern "C" __declspec(dllexport) int FakeApxWithoutClassObjects() { return 0; }
#endif
