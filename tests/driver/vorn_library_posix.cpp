#include <dirent.h>
#include <dlfcn.h>

#include "driver/vorn_library.h"

namespace vorn_test {

void *OpenLibrary(const std::string &path, std::string &error) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) error = dlerror();
  return handle;
}

void *ResolveSymbol(void *handle, const char *name) { return dlsym(handle, name); }

void CloseLibrary(void *handle) { dlclose(handle); }

std::string LibraryUnderTest() { return VORN_LIBRARY_PATH; }

namespace {
long CountEntries(const char *dir) {
  long n = 0;
  if (DIR *d = opendir(dir)) {
    while (const dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
}  // namespace

ProcessCounts CountProcessResources() { return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd")}; }

}  // namespace vorn_test
