// vornctl: a host program for the Vorn driver that uses only its sixteen exports.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/vornctl/command_line.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/stop_signal.h"
#include "tools/vornctl/usage_text.h"
#if VORN_HAVE_SUBSCRIBE
#include "tools/vornctl/record_from.h"
#endif
#if VORN_HAVE_VIEW
#include "tools/vornctl/view_command.h"
#endif
#if VORN_HAVE_NET
#include "tools/vornctl/serve_command.h"
#endif

int main(int argc, char **argv) {
  using namespace vornctl;
  CommandLine line;
  const ParseOutcome outcome = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), line);
  switch (outcome.kind) {
    case ParseOutcome::Kind::Help: std::fputs(kUsageText, stdout); return kExitOk;
    case ParseOutcome::Kind::Version: std::printf("vornctl %s\n", kVornctlVersion); return kExitOk;
    case ParseOutcome::Kind::Usage:
      if (outcome.message.empty()) {
        std::fputs(kUsageText, stderr);
      } else {
        Complain(outcome.message);
      }
      return kExitUsage;
    case ParseOutcome::Kind::Run: break;
  }
  Context context;
  context.argv0 = argv[0];
  context.libraryOption = line.library;
  InstallStopHandler();
  int status = kExitUsage;
  if (line.command == "about") {
    status = AboutCommand(context);
  } else if (line.command == "list") {
    status = ListCommand(context, line.list);
  } else if (line.command == "info") {
    status = InfoCommand(context, line.info);
  } else if (line.command == "record" && !line.record.from.empty()) {
#if VORN_HAVE_SUBSCRIBE
    status = RecordFromCommand(line.record);
#else
    Complain(WithoutNetworkText("record --from"));
    status = kExitFailure;
#endif
  } else if (line.command == "record") {
    status = RecordCommand(context, line.record);
  } else if (line.command == "demo") {
    status = DemoCommand(context, line.demo);
  } else if (line.command == "view") {
#if VORN_HAVE_VIEW
    status = ViewCommand(context, line.view);
#else
    Complain(
        "view: this vornctl was built without the web view (it needs libboost-dev and nlohmann-json3-dev; POSIX builds "
        "only)");
    status = kExitFailure;
#endif
  } else if (line.command == "serve" || line.command == "keygen") {
#if VORN_HAVE_NET
    status = line.command == "serve" ? ServeCommand(context, line.serve) : KeygenCommand(line.keygen);
#else
    Complain(line.command +
             ": this vornctl was built without the network commands (they need libzmq and cppzmq; "
             "Linux builds only)");
    status = kExitFailure;
#endif
  }
  context.Unload();
  return status;
}
