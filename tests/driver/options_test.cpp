#include "driver/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct Parsed {
  bool accepted;
  CommandLine line;
  std::string errors;
};

Parsed parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "prg");
  std::ostringstream errors;
  const std::optional<CommandLine> line =
      parseCommandLine(static_cast<int>(arguments.size()), arguments.data(), errors);
  return Parsed{line.has_value(), line.value_or(CommandLine{}), errors.str()};
}

TEST(OptionsTest, ParsesWhatTheCommandLineSays) {
  const struct {
    std::vector<const char*> arguments;
    std::function<bool(const CommandLine&)> holds;
  } cases[] = {
      {{}, [](const CommandLine& l) { return !l.help && !l.quiet && l.files.empty(); }},
      {{"-q", "in.txt", "out.txt"},
       [](const CommandLine& l) { return l.quiet && l.files.size() == 2; }},
      {{"--quiet", "--stats"}, [](const CommandLine& l) { return l.quiet && l.stats; }},
      {{"--no-cross"}, [](const CommandLine& l) { return l.noCross && !l.quiet; }},
      {{"-h"}, [](const CommandLine& l) { return l.help; }},
      {{"--version"}, [](const CommandLine& l) { return l.version; }},
      {{"--result", "csv"},
       [](const CommandLine& l) { return l.result.kind() == RowFormat::Kind::kCsv; }},
      {{"--result=csv", "-"},
       [](const CommandLine& l) { return !l.result.followsCopy() && l.files.size() == 1; }},
      {{"--csv", "out", "in.txt"},
       [](const CommandLine& l) { return l.csvFolder == "out" && l.files.size() == 1; }},
      {{"--csv=a=b"}, [](const CommandLine& l) { return l.csvFolder == "a=b"; }},
      {{"--", "-q"}, [](const CommandLine& l) { return !l.quiet && l.files[0] == "-q"; }},
      {{"-", "-"}, [](const CommandLine& l) { return l.files.size() == 2; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const Parsed parsed = parse(c.arguments);
    ASSERT_TRUE(parsed.accepted) << parsed.errors;
    EXPECT_TRUE(c.holds(parsed.line));
    EXPECT_EQ(parsed.errors, "");
  }
}

TEST(OptionsTest, RefusesWithALineThatNamesTheOption) {
  const struct {
    std::vector<const char*> arguments;
    std::string errors;
  } cases[] = {
      {{"--frobnicate"}, "prg: unknown option: --frobnicate (prg --help lists the options)\n"},
      {{"-q=1"}, "prg: unknown option: -q=1 (prg --help lists the options)\n"},
      {{"--csv"}, "prg: an option without its value: --csv (prg --help lists the options)\n"},
      {{"--csv="}, "prg: an option without its value: --csv= (prg --help lists the options)\n"},
      {{"--csv", ""}, "prg: an option without its value: --csv (prg --help lists the options)\n"},
      {{"--result", "xml"},
       "prg: an unknown --result format: xml (prg --help lists the options)\n"},
      {{"in.txt", "-q"},
       "prg: options come before the file names: -q (prg --help lists the options)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const Parsed parsed = parse(c.arguments);
    EXPECT_FALSE(parsed.accepted);
    EXPECT_EQ(parsed.errors, c.errors);
  }
}

// Every option the help shows is one the parser takes, with the value the help
// shows it with, under both its names.
TEST(OptionsTest, HelpShowsWhatTheParserTakes) {
  const std::string help = helpText();
  const std::size_t options = help.find("Options, before the file names:\n");
  const std::size_t end = help.find("\n\n", options);
  ASSERT_NE(options, std::string::npos);
  std::istringstream lines(help.substr(options, end - options));
  std::string text;
  std::getline(lines, text);
  std::size_t shown = 0;
  while (std::getline(lines, text)) {
    if (text.rfind("  -", 0) != 0 || text.rfind("  --  ", 0) == 0) {
      continue;
    }
    SCOPED_TRACE(text);
    std::istringstream words(text);
    std::vector<std::string> names;
    std::string word;
    std::string value;
    while (words >> word && word.front() == '-') {
      if (word.back() == ',') {
        word.pop_back();
      }
      names.push_back(word);
    }
    if (!word.empty() && word.front() != '-' && std::isupper(static_cast<unsigned char>(word[0]))) {
      value = word == "FORMAT" ? "csv" : "folder";
    }
    for (const std::string& name : names) {
      std::vector<const char*> arguments = {name.c_str()};
      if (!value.empty()) {
        arguments.push_back(value.c_str());
      }
      const Parsed parsed = parse(arguments);
      EXPECT_TRUE(parsed.accepted) << name << ": " << parsed.errors;
    }
    ++shown;
  }
  EXPECT_EQ(shown, 7u);
}

}  // namespace
