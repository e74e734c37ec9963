#include "driver/command_line.h"

#include <string_view>

#include "text/string_helpers.h"

namespace {

bool refuse(std::ostream& errors, std::string_view why, std::string_view option) {
  errors << "prg: " << why << ": " << escapedForConsole(option)
         << " (prg --help lists the options)\n"
         << std::flush;
  return false;
}

// An option that takes a value, given as --name VALUE or --name=VALUE.
bool takeValue(std::string_view argument, std::string_view name, int& i, int argc,
               const char* const* argv, std::optional<std::string>& value, bool& matched,
               std::ostream& errors) {
  if (argument == name) {
    matched = true;
    // An empty value would name the current folder, say, without anyone asking.
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      return refuse(errors, "an option without its value", argument);
    }
    value = argv[++i];
    return true;
  }
  if (argument.size() > name.size() && argument.substr(0, name.size()) == name &&
      argument[name.size()] == '=') {
    matched = true;
    if (argument.size() == name.size() + 1) {
      return refuse(errors, "an option without its value", argument);
    }
    value = std::string(argument.substr(name.size() + 1));
    return true;
  }
  return true;
}

}  // namespace

std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv,
                                            std::ostream& errors) {
  CommandLine line;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    // "-" names standard input or output; anything else that starts with "-" is an
    // option until "--" or the first file name.
    const bool looksLikeOption = argument.size() > 1 && argument.front() == '-';
    if (optionsEnded || !looksLikeOption) {
      line.files.emplace_back(argument);
      continue;
    }
    if (!line.files.empty()) {
      refuse(errors, "options come before the file names", argument);
      return std::nullopt;
    }
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      line.help = true;
    } else if (argument == "--version") {
      line.version = true;
    } else if (argument == "-q" || argument == "--quiet") {
      line.quiet = true;
    } else if (argument == "--stats") {
      line.stats = true;
    } else {
      bool matched = false;
      std::optional<std::string> result;
      if (!takeValue(argument, "--csv", i, argc, argv, line.csvFolder, matched, errors) ||
          !takeValue(argument, "--result", i, argc, argv, result, matched, errors)) {
        return std::nullopt;
      }
      if (result.has_value()) {
        const std::optional<RowFormat> format = RowFormat::named(*result);
        if (!format) {
          refuse(errors, "an unknown --result format", *result);
          return std::nullopt;
        }
        line.result = *format;
      }
      if (!matched) {
        refuse(errors, "unknown option", argument);
        return std::nullopt;
      }
    }
  }
  return line;
}
