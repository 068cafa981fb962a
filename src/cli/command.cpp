// Command registry and dispatch of kestrune-cli.
#include "cli/command.h"

#include <algorithm>
#include <iostream>

#include "base/threading.h"

using namespace kestrune;

std::vector<CommandInfo>& CommandRegistry() {
  static std::vector<CommandInfo> registry;
  return registry;
}

int RunCli(int argc, char** argv) {
  CLI::App app{"Kestrune: exact x2 enlargement and crisp reduction of raster images.", "kestrune-cli"};
  app.require_subcommand(1);
  int threads = 0;
  app.add_option("--threads", threads,
                 "Threads for the heavy work (default: the KESTRUNE_THREADS variable, else every core)")
      ->check(CLI::Range(1, kMaxThreads))
      ->type_name("N");

  auto infos = CommandRegistry();
  std::sort(infos.begin(), infos.end(), [](const auto& a, const auto& b) { return a.order < b.order; });

  std::vector<std::pair<CLI::App*, std::unique_ptr<Command>>> commands;
  for (const auto& info : infos) {
    CLI::App* sub = app.add_subcommand(info.name, info.description);
    auto command = info.make();
    command->Setup(*sub);
    commands.emplace_back(sub, std::move(command));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  if (threads > 0) SetThreadCount(threads);
  for (auto& [sub, command] : commands)
    if (sub->parsed()) return command->Run();
  return kExitUsage;
}
