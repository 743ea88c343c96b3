// A host process without the environment class: the library has to bring the
// framework up from the Apx.dll beside this executable. The exit code tells
// the parent test what happened.
#include <windows.h>
#include <ole2.h>

#include <cstring>

#include "host/exceptions.h"
#include "host/host_environment.h"

int main(int argc, char **argv) {
  // "preinit": the host thread has OLE already, so the library's start-up answers "already initialised".
  if (argc > 1 && std::strcmp(argv[1], "preinit") == 0) OleInitialize(nullptr);
  try {
    return QVX::GetHostEnvironment() ? 10 : 11;
  } catch (const QVX::XQVX &) {
    return 20;
  } catch (const QVX::XHResult &) {
    return 30;
  }
}
