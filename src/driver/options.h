// The command line: options first, then up to two file names. One table of the
// options makes both the parser and the help, so the two can't drift apart.
// Options are checked before anything else happens: a wrong one touches no file.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "output/row_format.h"

struct CommandLine {
  bool help = false;
  bool version = false;
  bool quiet = false;                    // only a failure's own lines on the console
  bool stats = false;                    // each stage's time, the tables' rows, memory
  bool noCross = false;                  // a step that shares no column key is refused
  std::optional<std::string> csvFolder;  // --csv FOLDER: the tables as CSV files
  RowFormat result;                      // --result FORMAT: the joined table alone
  std::vector<std::string> files;        // the input and output names given
};

// The options and names of argv; nullopt, with a line on errors that names the
// option and points to --help, when an option is unknown, lacks its value, has a
// value it does not take or follows a file name.
std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv,
                                            std::ostream& errors);

// What --help shows: the usage, the option table, the format and the statuses.
std::string helpText();
// "prg 1.0.0 (abc1234)": the version, and the commit the build comes from.
std::string versionText();
