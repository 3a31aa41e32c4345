// Exit codes of the command.
#ifndef TWINTONE_TOOLS_COMMON_EXIT_CODES_H
#define TWINTONE_TOOLS_COMMON_EXIT_CODES_H

namespace twintone_cli {

constexpr int kExitOk = 0;       // the run finished (groups or none)
constexpr int kExitFailure = 1;  // a path could not be read, a move failed, the library refused
constexpr int kExitUsage = 2;    // the command line was wrong
constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C (143: SIGTERM); partial results printed

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_EXIT_CODES_H
