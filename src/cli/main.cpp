// kestrune-cli: the command-line tool over the Kestrune core.
#include "cli/command.h"

int main(int argc, char** argv) { return RunCli(argc, argv); }
