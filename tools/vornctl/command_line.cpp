#include "tools/vornctl/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace vornctl {

namespace {

// One value per --out, so "--out a.csv 0" does not swallow the device.
CLI::Option *Repeatable(CLI::Option *option) { return option->allow_extra_args(false)->take_all(); }

CLI::Option *Flag(CLI::App &app, const std::string &name, bool &target) {
  // "--block=yes" is a mistake, not a way of saying true.
  return app.add_flag(name, target)->disable_flag_override();
}

void AddOutputOptions(CLI::App &command, OutputOptions &o) {
  Repeatable(command.add_option("--out", o.outputs));
  command.add_option("--plot", o.plot);
  Flag(command, "--block", o.block);
  Flag(command, "--no-progress", o.noProgress);
  command.add_option("--subject", o.subject);
  command.add_option("--recording", o.recording);
}

CLI::App *AddAboutCommand(CLI::App &app) { return app.add_subcommand("about"); }

CLI::App *AddListCommand(CLI::App &app, ListOptions &o) {
  CLI::App *command = app.add_subcommand("list");
  Flag(*command, "--json", o.json);
  return command;
}

CLI::App *AddInfoCommand(CLI::App &app, InfoOptions &o) {
  CLI::App *command = app.add_subcommand("info");
  command->add_option("device", o.device)->required();
  Flag(*command, "--json", o.json);
  return command;
}

CLI::App *AddRecordCommand(CLI::App &app, RecordOptions &o) {
  CLI::App *command = app.add_subcommand("record");
  command->add_option("device", o.devices);
  Flag(*command, "--all", o.all);
  Flag(*command, "--reconnect", o.reconnect);
  command->add_option("--channels", o.channels);
  command->add_option("--period", o.period);
  command->add_option("--seconds", o.seconds);
  AddOutputOptions(*command, o.output);
  return command;
}

CLI::App *AddDemoCommand(CLI::App &app, DemoOptions &o) {
  CLI::App *command = app.add_subcommand("demo");
  command->add_option("--seconds", o.seconds);
  command->add_option("--profile", o.profile);
  Repeatable(command->add_option("--sim-arg", o.simArgs));
  AddOutputOptions(*command, o.output);
  return command;
}

CLI::App *AddViewCommand(CLI::App &app, ViewOptions &o) {
  CLI::App *command = app.add_subcommand("view");
  command->add_option("--port", o.port);
  command->add_option("--listen", o.listen);
  Flag(*command, "--open", o.open);
  Flag(*command, "--start", o.start);
  command->add_option("--out-dir", o.outDir);
  command->add_option("--web", o.web);
  return command;
}

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string> &args, CommandLine &out) {
  out = CommandLine{};
  CLI::App app("vornctl");
  // --library is accepted before and after the command, as it always was.
  app.fallthrough();
  app.add_option("--library", out.library);
  app.set_version_flag("--version", "vornctl");
  app.require_subcommand(0, 1);
  const std::vector<CLI::App *> commands = {AddAboutCommand(app),         AddListCommand(app, out.list),
                                            AddInfoCommand(app, out.info), AddRecordCommand(app, out.record),
                                            AddDemoCommand(app, out.demo),  AddViewCommand(app, out.view)};
  for (CLI::App *command : commands) command->fallthrough();

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp &) {
    return {ParseOutcome::Kind::Help, {}};
  } catch (const CLI::CallForAllHelp &) {
    return {ParseOutcome::Kind::Help, {}};
  } catch (const CLI::CallForVersion &) {
    return {ParseOutcome::Kind::Version, {}};
  } catch (const CLI::ParseError &e) {
    std::string message = e.what();
    const bool anyCommand =
        std::any_of(commands.begin(), commands.end(), [](const CLI::App *c) { return c->parsed(); });
    if (!anyCommand && !args.empty() && dynamic_cast<const CLI::ExtrasError *>(&e) != nullptr) {
      for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--library") {
          ++i;
        } else if (args[i].empty() || args[i].front() != '-') {
          message = "unknown command '" + args[i] + "' (vornctl --help lists them)";
          break;
        }
      }
    }
    for (const CLI::App *c : commands) {
      if (c->parsed()) message = c->get_name() + ": " + message;
    }
    return {ParseOutcome::Kind::Usage, message};
  }
  for (const CLI::App *c : commands) {
    if (c->parsed()) out.command = c->get_name();
  }
  if (out.command.empty()) return {ParseOutcome::Kind::Usage, {}};
  return {ParseOutcome::Kind::Run, {}};
}

}  // namespace vornctl
