#include "host/host_environment.h"

#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shlwapi.h>

#include <atomic>
#include <string>

#include "host/exceptions.h"

namespace QVX {

namespace {

const GUID &AsGuid(const Guid &guid) { return reinterpret_cast<const GUID &>(guid); }

// What the framework start-up leaves behind, undone at exit. OLE goes down
// before the library is freed: its uninitialisation still releases objects
// that live in the library.
struct FrameworkState {
  bool oleStarted = false;
  HMODULE library = nullptr;
  DWORD cookie = 0;

  ~FrameworkState() {
    if (cookie) CoRevokeClassObject(cookie);
    if (oleStarted) OleUninitialize();
    if (library) FreeLibrary(library);
  }
};

FrameworkState &Framework() {
  static FrameworkState state;
  return state;
}

// Each step is tried once per process, even when it fails.
std::atomic<bool> oleTried{false};
std::atomic<bool> libraryTried{false};

// The framework library sits beside the host executable.
std::wstring FrameworkLibraryPath() {
  wchar_t host[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, host, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) host[0] = 0;
  PathRemoveFileSpecW(host);
  wchar_t combined[MAX_PATH] = {};
  if (!PathCombineW(combined, host, L"Apx.dll")) return L"Apx.dll";
  return combined;
}

[[noreturn]] void FailFrameworkLoad(const std::wstring &path) {
  std::wstring text = L"Plotr failed to load " + path;
  if (text.size() > 511) text.resize(511);
  MessageBoxExW(nullptr, text.c_str(), L"Plotr load failed", MB_OK, 0);
  ExitProcess(static_cast<UINT>(-1));
}

void LoadFrameworkLibrary() {
  FrameworkState &state = Framework();
  state.library = nullptr;
  state.cookie = 0;
  std::wstring path = FrameworkLibraryPath();
  state.library = LoadLibraryW(path.c_str());
  using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
  auto entry = state.library ? reinterpret_cast<GetClassObject>(
                                   reinterpret_cast<void *>(GetProcAddress(state.library, "DllGetClassObject")))
                             : nullptr;
  if (!entry) FailFrameworkLoad(path);
  IUnknown *classObject = nullptr;
  HRESULT result = entry(AsGuid(kClsidHostFramework), IID_IUnknown, reinterpret_cast<void **>(&classObject));
  if (FAILED(result) || !classObject) throw XHResult{FAILED(result) ? result : E_POINTER};
  result = CoRegisterClassObject(AsGuid(kClsidHostFramework), classObject, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 &state.cookie);
  classObject->Release();
  if (FAILED(result)) {
    state.cookie = 0;
    throw XHResult{result};
  }
}

}  // namespace

void EnsureHostFramework() {
  IUnknown *probe = nullptr;
  if (SUCCEEDED(CoGetClassObject(AsGuid(kClsidHostFramework), kClassContextAll, nullptr, IID_IUnknown,
                                 reinterpret_cast<void **>(&probe)))) {
    probe->Release();
    return;
  }
  if (!oleTried.exchange(true)) {
    HRESULT result = OleInitialize(nullptr);
    if (result != S_OK) {
      // "Already initialised" still took a count on this thread; give it back.
      if (SUCCEEDED(result)) OleUninitialize();
      throw XQVX(result);
    }
    Framework().oleStarted = true;
  }
  if (!libraryTried.exchange(true)) LoadFrameworkLibrary();
}

IUnknownBase *FindHostEnvironment() {
  void *found = nullptr;
  HRESULT result =
      CoGetClassObject(AsGuid(kClsidHostEnvironment), kClassContextAll, nullptr, AsGuid(kIidHostEnvironment), &found);
  if (FAILED(result)) {
    EnsureHostFramework();
    found = nullptr;
    result =
        CoGetClassObject(AsGuid(kClsidHostEnvironment), kClassContextAll, nullptr, AsGuid(kIidHostEnvironment), &found);
  }
  return SUCCEEDED(result) ? static_cast<IUnknownBase *>(found) : nullptr;
}

}  // namespace QVX
