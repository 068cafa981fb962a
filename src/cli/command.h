// The commands of kestrune-cli. Each command lives in its own file and
// registers itself with a static CommandRegistration, so main() needs no list.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// Exit statuses shared by every command (the README and --help list them).
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 1,        // bad arguments or values
  kExitUnreadable = 2,   // the input cannot be read: missing, not an image, damaged
  kExitUnwritable = 3,   // the output cannot be written (nothing was written), or a batch's report
  kExitOutOfMemory = 4,  // the work needs more memory than the machine has
  kExitStopped = 5,      // stopped by a first Ctrl+C: upscale wrote the unfinished estimate
  kExitSomeFailed = 6,   // a batch went through, but some inputs (files, folders) failed (the others were written)
  // A signal that ends the tool (a second Ctrl+C, SIGTERM, SIGHUP) gives
  // 128 + its number, after any temporary file is removed (a batch keeps the
  // results it had finished).
};

// The help text's list of exit statuses.
extern const char kExitStatusHelp[];

class Command {
 public:
  virtual ~Command() = default;
  // Declares the command's options on its subcommand.
  virtual void Setup(CLI::App& sub) = 0;
  // Runs after a successful parse; returns an ExitStatus.
  virtual int Run() = 0;
  // Whether a first Ctrl+C asks the command to stop (through its progress)
  // instead of ending the tool.
  virtual bool StopsOnInterrupt() const { return false; }
};

struct CommandInfo {
  std::string name;
  std::string description;
  int order;  // position in --help
  std::function<std::unique_ptr<Command>()> make;
};

std::vector<CommandInfo>& CommandRegistry();

struct CommandRegistration {
  explicit CommandRegistration(CommandInfo info) { CommandRegistry().push_back(std::move(info)); }
};

// Runs the tool on argv; what main() returns. Exposed for tests.
int RunCli(int argc, char** argv);
