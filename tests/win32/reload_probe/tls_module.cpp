// A module that carries a TLS directory, as every mingw-built DLL does (the
// runtime's TLS callbacks): loading it makes the system loader give each
// running thread a slot for it.
#include <windows.h>

namespace vorn_test {
namespace {

thread_local int touches = 0;

}  // namespace
}  // namespace vorn_test

extern "C" __declspec(dllexport) int ProbeTouch() { return ++vorn_test::touches; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
