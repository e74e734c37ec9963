// The README tells the truth: its first example and every shipped example give
// the result blocks it shows, byte for byte, and its option table lists the
// options --help lists.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "driver/options.h"
#include "support/folder.h"

namespace {

std::string fileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

const std::string& readme() {
  static const std::string text = fileText(std::filesystem::path(PRG_SOURCE_DIR) / "README.md");
  return text;
}

// The code block that starts on the first line after at that opens one.
std::string blockAfter(std::size_t at) {
  const std::string& text = readme();
  const std::size_t open = text.find("```", at);
  const std::size_t start = text.find('\n', open) + 1;
  return text.substr(start, text.find("```", start) - start);
}

// What prg appends to input, run in a folder of its own.
std::string appendedTo(const std::string& input) {
  Folder folder;
  folder.write("in.txt", input);
  EXPECT_EQ(folder.runPrg("in.txt out.txt").status, 0);
  return folder.read("out.txt").value_or("").substr(input.size());
}

TEST(ReadmeTest, ExamplesGiveTheResultsShown) {
  const std::string& text = readme();
  const std::size_t format = text.find("## Input format");
  ASSERT_NE(format, std::string::npos);
  const std::string input = blockAfter(format);
  EXPECT_EQ(appendedTo(input), blockAfter(text.find("The example above gives", format)));
  const std::regex shown("`examples/(input[^`]*)` gives, after the copy of its input:");
  std::size_t examples = 0;
  for (auto match = std::sregex_iterator(text.begin(), text.end(), shown);
       match != std::sregex_iterator(); ++match, ++examples) {
    const std::string name = (*match)[1];
    SCOPED_TRACE(name);
    const std::string example = fileText(std::filesystem::path(PRG_SOURCE_DIR) / "examples" / name);
    EXPECT_EQ(appendedTo(example), blockAfter(static_cast<std::size_t>(match->position())));
  }
  std::size_t shipped = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(PRG_SOURCE_DIR) / "examples")) {
    shipped += entry.path().filename().string().rfind("input", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(examples, shipped);
}

// The long names of options in text: "--name" words.
std::set<std::string> optionsIn(const std::string& text) {
  std::set<std::string> names;
  const std::regex option("(^|[ `,(])(--[a-z][a-z-]*|-[a-z])\\b");
  for (auto match = std::sregex_iterator(text.begin(), text.end(), option);
       match != std::sregex_iterator(); ++match) {
    names.insert((*match)[2]);
  }
  return names;
}

TEST(ReadmeTest, OptionTableListsWhatHelpLists) {
  const std::string& text = readme();
  const std::size_t table = text.find("| Option | What it does |");
  ASSERT_NE(table, std::string::npos);
  std::string names;
  for (std::size_t line = text.find('\n', table) + 1; text.compare(line, 1, "|") == 0;
       line = text.find('\n', line) + 1) {
    const std::size_t cell = text.find('|', line + 1);
    names += text.substr(line, cell - line) + "\n";
  }
  const std::string help = helpText();
  const std::size_t from = help.find("Options, before the file names:");
  std::string shown;
  // The options' lines, up to the blank line after them; the later lines of an
  // option's help start with spaces alone.
  for (std::size_t line = help.find('\n', from) + 1; help.compare(line, 1, "\n") != 0;
       line = help.find('\n', line) + 1) {
    if (help.compare(line, 3, "  -") == 0) {
      shown += help.substr(line, help.find("  ", line + 3) - line) + "\n";
    }
  }
  std::set<std::string> inHelp = optionsIn(shown);
  inHelp.erase("--");
  EXPECT_EQ(optionsIn(names), inHelp);
  EXPECT_GE(inHelp.size(), 7u);
}

}  // namespace
