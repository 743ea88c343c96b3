#include <dlfcn.h>

#include "tools/hostlib/vorn_library.h"

namespace vorn_host {

void *OpenLibrary(const std::string &path, std::string &error) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) error = dlerror();
  return handle;
}

void *ResolveSymbol(void *handle, const char *name) { return dlsym(handle, name); }

void CloseLibrary(void *handle) { dlclose(handle); }

const char *LibraryFileName() { return "libvorn.so"; }

}  // namespace vorn_host
