// Command registry and dispatch of kestrune-cli.
#include "cli/command.h"

#include <algorithm>
#include <iostream>
#include <new>

#include <kestrune/threads.h>

#include "cli/interrupt.h"
#include "cli/options.h"

const char kExitStatusHelp[] =
    "Exit status: 0 success, 1 bad arguments, 2 unreadable input, 3 unwritable output (nothing written;\n"
    "for a batch also a --report that could not be written, the results kept), 4 not enough memory,\n"
    "5 stopped by Ctrl+C after writing an unfinished result (upscale),\n"
    "6 a batch (-o DIR) where some inputs (files or folders) failed while the others were written,\n"
    "128+N ended by signal N (a second Ctrl+C, SIGTERM, SIGHUP; nothing written;\n"
    "a batch keeps the results it had finished and removes those in progress).";

std::vector<CommandInfo>& CommandRegistry() {
  static std::vector<CommandInfo> registry;
  return registry;
}

int RunCli(int argc, char** argv) {
  CLI::App app{"Kestrune: exact x2 enlargement and crisp reduction of raster images.", "kestrune-cli"};
  app.footer(kExitStatusHelp);
  app.require_subcommand(1);
  int threads = 0;
  app.add_option("--threads", threads,
                 "Threads for the heavy work (default: the KESTRUNE_THREADS variable, else every core)")
      ->check(DecimalDigits)
      ->check(CLI::Range(1, kestrune::kMaxThreads))
      ->type_name("N");

  auto infos = CommandRegistry();
  std::sort(infos.begin(), infos.end(), [](const auto& a, const auto& b) { return a.order < b.order; });

  std::vector<std::pair<CLI::App*, std::unique_ptr<Command>>> commands;
  for (const auto& info : infos) {
    CLI::App* sub = app.add_subcommand(info.name, info.description);
    sub->footer(kExitStatusHelp);
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

  if (threads > 0) kestrune::SetThreadCount(threads);
  for (auto& [sub, command] : commands) {
    if (!sub->parsed()) continue;
    // Whatever the signals' inherited dispositions (a script's background
    // job starts with SIGINT ignored), every command ends cleanly on them.
    InterruptHandlers handlers(command->StopsOnInterrupt());
    try {
      return command->Run();
    } catch (const std::bad_alloc&) {
      std::cerr << "kestrune-cli: not enough memory\n";
      return kExitOutOfMemory;
    }
  }
  return kExitUsage;
}
