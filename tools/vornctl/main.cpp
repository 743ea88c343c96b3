// vornctl: a host program for the Vorn driver that uses only its sixteen exports.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/stop_signal.h"
#include "tools/vornctl/usage_text.h"
#if VORN_HAVE_VIEW
#include "tools/vornctl/view_command.h"
#endif

int main(int argc, char **argv) {
  using namespace vornctl;
  Context context;
  context.argv0 = argv[0];
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--library") == 0) {
      if (i + 1 >= argc) {
        Complain("--library needs a path");
        return kExitUsage;
      }
      context.libraryOption = argv[++i];
    } else if (std::strncmp(argv[i], "--library=", 10) == 0) {
      context.libraryOption = argv[i] + 10;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsageText, stdout);
      return kExitOk;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.empty()) {
    std::fputs(kUsageText, stderr);
    return kExitUsage;
  }
  InstallStopHandler();
  const std::string command = args.front();
  args.erase(args.begin());
  int status = kExitUsage;
  if (command == "about") {
    status = AboutCommand(context, args);
  } else if (command == "list") {
    status = ListCommand(context, args);
  } else if (command == "info") {
    status = InfoCommand(context, args);
  } else if (command == "record") {
    status = RecordCommand(context, args);
  } else if (command == "demo") {
    status = DemoCommand(context, args);
#if VORN_HAVE_VIEW
  } else if (command == "view") {
    status = ViewCommand(context, args);
#endif
  } else {
    Complain("unknown command '" + command + "' (vornctl --help lists them)");
  }
  context.Unload();
  return status;
}
