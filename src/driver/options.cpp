#include "driver/options.h"

#include <algorithm>

#include "driver/messages.h"
#include "text/string_helpers.h"

namespace {

struct Option {
  std::string_view shortName;  // empty when there is none
  std::string_view longName;
  std::string_view valueName;  // empty when the option takes no value
  std::string_view help;       // its lines, for the help's second column
  // Sets what the option asks for; false when its value is refused.
  bool (*apply)(CommandLine& line, std::string_view value);
};

constexpr Option kOptions[] = {
    {"-h", "--help", "", "shows this text",
     [](CommandLine& line, std::string_view) { return line.help = true; }},
    {"", "--version", "", "shows the version",
     [](CommandLine& line, std::string_view) { return line.version = true; }},
    {"-q", "--quiet", "", "prints only a failure's own lines",
     [](CommandLine& line, std::string_view) { return line.quiet = true; }},
    {"", "--stats", "",
     "tells on standard error each stage's time, the rows of\n"
     "the joined tables, peak memory and page faults",
     [](CommandLine& line, std::string_view) { return line.stats = true; }},
    {"", "--no-cross", "",
     "refuses a step that shares no column key with those\n"
     "before it: it would pair every row with every row",
     [](CommandLine& line, std::string_view) { return line.noCross = true; }},
    {"", "--result", "FORMAT",
     "the output holds the joined table alone, in FORMAT:\n"
     "csv (RFC 4180), or tsv (a tab between cells, and\n"
     "\\t \\r \\n \\\\ in them): a line of column keys,\n"
     "then the rows",
     [](CommandLine& line, std::string_view value) {
       const std::optional<RowFormat> format = RowFormat::named(value);
       if (format) {
         line.result = *format;
       }
       return format.has_value();
     }},
    {"", "--csv", "FOLDER",
     "writes each table of the input as FOLDER/<name>.csv\n"
     "(RFC 4180) and FOLDER/join.sql, the join for DuckDB,\n"
     "instead of joining",
     [](CommandLine& line, std::string_view value) {
       line.csvFolder = std::string(value);
       return true;
     }},
};

bool refuse(std::ostream& errors, std::string_view why, std::string_view option) {
  errors << "prg: " << why << ": " << escapedForConsole(option)
         << " (prg --help lists the options)\n"
         << std::flush;
  return false;
}

const Option* optionNamed(std::string_view name) {
  for (const Option& option : kOptions) {
    if (name == option.shortName || name == option.longName) {
      return &option;
    }
  }
  return nullptr;
}

// Applies the option argv[i] names, taking its value from argv[i + 1] or after "=".
bool applyOption(int& i, int argc, const char* const* argv, CommandLine& line,
                 std::ostream& errors) {
  const std::string_view argument = argv[i];
  const std::size_t equals = argument.find('=');
  const std::string_view name = argument.substr(0, equals);
  const Option* option = optionNamed(name);
  if (option == nullptr || (option->valueName.empty() && equals != std::string_view::npos)) {
    return refuse(errors, "unknown option", argument);
  }
  std::string_view value;
  if (!option->valueName.empty()) {
    // An empty value would name the current folder, say, without anyone asking.
    if (equals != std::string_view::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    }
    if (value.empty()) {
      return refuse(errors, "an option without its value", argument);
    }
  }
  if (!option->apply(line, value)) {
    return refuse(errors, "an unknown " + std::string(option->longName) + " format", value);
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
    } else if (!applyOption(i, argc, argv, line, errors)) {
      return std::nullopt;
    }
  }
  return line;
}

namespace {

constexpr std::size_t kHelpColumn = 24;

// "  -h, --help            shows this text", the help's later lines below it.
void appendOptionHelp(std::string& text, const Option& option) {
  std::string line = "  ";
  line.append(option.shortName).append(option.shortName.empty() ? "" : ", ");
  line.append(option.longName).append(option.valueName.empty() ? "" : " ");
  line.append(option.valueName);
  line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
  for (const char byte : option.help) {
    line.append(byte == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, byte));
  }
  if (!option.valueName.empty()) {
    line.append("; ").append(option.longName).append("=").append(option.valueName).append(" too");
  }
  text.append(line).append("\n");
}

}  // namespace

std::string helpText() {
  std::string text(message::kUsage);
  text.append(R"(
Joins the tables of a text file on the columns they share, from left to right,
and writes a copy of the input followed by the joined table, named result.

  prg [options] [inputfile] [outputfile]
  prg                   reads input1k.txt, writes output1k.txt
  prg input_x.txt       writes output_x.txt: "input" is replaced by "output"
  prg in.txt out.txt    names both files
  prg - -               reads standard input, writes standard output; the
                        messages then go to standard error

Options, before the file names:
)");
  for (const Option& option : kOptions) {
    appendOptionHelp(text, option);
  }
  text.append("  --                    ends the options: a later name starting with - is a file\n");
  text.append(R"(
The input file:
  join(A, B)            line 1: the tables to join, separated by commas
                        a blank line
  A(id int, name)       a table: its name and its column descriptors; the first
                        word of a descriptor (id) is the column's key
  1, x                  its rows: cells separated by commas, spaces around them
  2, 'Cid, Jr.'         dropped; apostrophes quote commas and stay in the cell,
                        \' does not quote
                        a blank line ends a table
  B(id, price)
  1, 10

Exit status: 0 result written; 1 wrong arguments, or a file that can't be opened
or read; 2 a wrong join header; 3 a wrong table descriptor; 4 a row with the
wrong number of cells; 5 no table named; 6 a named table missing; 7 the output
could not be written; 8 out of memory; 128 + n ended by signal n (141: the
reader of the output's pipe left).
)");
  return text;
}

std::string versionText() {
  const std::string_view commit = PRG_COMMIT;
  return std::string("prg " PRG_VERSION) +
         (commit.empty() ? "" : " (" + std::string(commit) + ")") + "\n";
}
