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
  Flag(command, "--force,--overwrite", o.force);
  command.add_option("--subject", o.subject);
  command.add_option("--subject-name", o.subjectName);
  command.add_option("--recording", o.recording);
}

void AddRemoteOptions(CLI::App &command, RemoteOptions &o, bool control) {
  command.add_option("--server-key", o.serverKey);
  command.add_option("--client-key", o.clientKey);
  if (control) command.add_option("--control", o.control);
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
  command->add_option("--from", o.from);
  AddRemoteOptions(*command, o.remote, true);
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
  Flag(*command, "--token", o.token);
  command->add_option("--out-dir", o.outDir);
  command->add_option("--web", o.web);
  Repeatable(command->add_option("--from", o.from));
  AddRemoteOptions(*command, o.remote, false);
  return command;
}

CLI::App *AddServeCommand(CLI::App &app, ServeOptions &o) {
  CLI::App *command = app.add_subcommand("serve");
  command->add_option("device", o.devices);
  Flag(*command, "--all", o.all);
  command->add_option("--bind", o.bind);
  command->add_option("--control", o.control);
  command->add_option("--curve-secret", o.curveSecret);
  command->add_option("--curve-clients", o.curveClients);
  command->add_option("--send-hwm", o.sendHighWater);
  command->add_option("--channels", o.channels);
  command->add_option("--period", o.period);
  Flag(*command, "--no-start", o.noStart);
  return command;
}

CLI::App *AddKeygenCommand(CLI::App &app, KeygenOptions &o) {
  CLI::App *command = app.add_subcommand("keygen");
  command->add_option("name", o.name);
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
  const std::vector<CLI::App *> commands = {AddAboutCommand(app),
                                            AddListCommand(app, out.list),
                                            AddInfoCommand(app, out.info),
                                            AddRecordCommand(app, out.record),
                                            AddDemoCommand(app, out.demo),
                                            AddViewCommand(app, out.view),
                                            AddServeCommand(app, out.serve),
                                            AddKeygenCommand(app, out.keygen)};
  // Words CLI11 does not know are kept, so the message can name the first.
  app.allow_extras();
  for (CLI::App *command : commands) command->fallthrough()->allow_extras();

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
    for (const CLI::App *c : commands) {
      if (c->parsed()) message = c->get_name() + ": " + message;
    }
    return {ParseOutcome::Kind::Usage, message};
  }
  for (const CLI::App *c : commands) {
    if (!c->parsed()) continue;
    out.command = c->get_name();
    std::vector<std::string> unknown = c->remaining();
    for (const std::string &word : app.remaining()) unknown.push_back(word);
    if (!unknown.empty()) {
      const std::string &word = unknown.front();
      return {ParseOutcome::Kind::Usage,
              out.command + ": " +
                  (word.size() > 1 && word.front() == '-' ? "unknown option " + word
                                                          : "unexpected argument '" + word + "'")};
    }
  }
  if (out.command.empty()) {
    const std::vector<std::string> unknown = app.remaining();
    if (unknown.empty()) return {ParseOutcome::Kind::Usage, {}};
    const std::string &word = unknown.front();
    return {ParseOutcome::Kind::Usage, word.size() > 1 && word.front() == '-'
                                           ? "unknown option " + word + " (vornctl --help lists them)"
                                           : "unknown command '" + word + "' (vornctl --help lists them)"};
  }
  return {ParseOutcome::Kind::Run, {}};
}

}  // namespace vornctl
