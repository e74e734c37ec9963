#include "driver/advice.h"

#include <algorithm>
#include <unordered_map>

#include "join/join_plan.h"
#include "join/joined_rows.h"
#include "tables/table_parsing.h"
#include "text/split.h"
#include "text/string_helpers.h"

namespace {

constexpr const char* kWarning = "prg: warning: ";
constexpr const char* kHint = "prg: hint: ";
constexpr std::size_t kTablesListed = 5;
// Lines of one kind of warning or hint before the rest is only counted.
constexpr std::size_t kLinesOfAKind = 5;
// Keys of one length compared with a key that may be a typo of one: a bound on the
// work whatever the names.
constexpr std::size_t kKeysOfALength = 64;

// ASCII letters only: names are bytes, and no other character set is assumed.
char foldCase(char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
}

std::string folded(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), foldCase);
  return result;
}

bool equalButForCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return foldCase(x) == foldCase(y);
         });
}

// A key without the tabs and carriage returns that a spreadsheet or an editor
// leaves behind; only the space is white space to the format.
std::string withoutTabs(std::string_view key) {
  std::string kept;
  for (const char byte : key) {
    if (byte != '\t' && byte != '\r') {
      kept.push_back(byte);
    }
  }
  return kept;
}

// A key such as "id\tname": the descriptor was separated by tabs, not commas.
bool separatesByTabs(std::string_view key) {
  const std::size_t first = key.find_first_not_of("\t\r");
  const std::size_t last = key.find_last_not_of("\t\r");
  return first != std::string_view::npos &&
         key.substr(first, last - first).find('\t') != std::string_view::npos;
}

std::size_t lineNumberAt(std::string_view text, std::size_t position) {
  const std::string_view before = text.substr(0, std::min(position, text.size()));
  return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
}

// Whether the cells of a row, written back with commas, form a table descriptor.
bool readsAsDescriptor(std::string_view line) {
  std::vector<Table> scratch;
  return line.find('(') != std::string_view::npos &&
         parseTableDescriptor(std::string(trimmedView(line)), scratch);
}

std::string_view lineAt(std::string_view text, std::size_t position) {
  LineReader lines(text, position);
  std::string_view line;
  lines.next(line);
  return line;
}

// Where the row that holds cell starts in text, when the cell lies in it.
bool rowStart(std::string_view text, std::string_view cell, std::size_t& position) {
  if (cell.data() < text.data() || cell.data() > text.data() + text.size()) {
    return false;
  }
  const auto offset = static_cast<std::size_t>(cell.data() - text.data());
  const std::size_t lineEnd = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  position = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
  return true;
}

// The names among candidates within two edits of name (one for a name of fewer
// than eight bytes, none below four, where any name is near any other), nearest
// first, with their edits, at most three. Names that differ only in
// letter case, spaces or tabs are told of on their own.
std::vector<std::pair<std::size_t, std::string_view>> nearNames(
    std::string_view name, const std::vector<std::string_view>& candidates) {
  const std::size_t most = std::min<std::size_t>(2, name.size() / 4);
  std::vector<std::pair<std::size_t, std::string_view>> near;
  if (most == 0) {
    return near;
  }
  for (const std::string_view candidate : candidates) {
    if (equalButForCase(candidate, name) || trimmedView(candidate) == trimmedView(name) ||
        equalButForCase(withoutTabs(candidate), withoutTabs(name))) {
      continue;
    }
    if (const std::size_t edits = editDistance(candidate, name, most); edits <= most) {
      near.emplace_back(edits, candidate);
    }
  }
  std::stable_sort(near.begin(), near.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  near.resize(std::min<std::size_t>(near.size(), 3));
  return near;
}

}  // namespace

void StepWarnings::add(const Table& table) {
  for (std::size_t j = 0; j < table.columns.size(); ++j) {
    const std::string key = columnKey(table, j);
    byCase_.emplace(folded(key), key);
    byTabs_.emplace(folded(withoutTabs(key)), key);
    std::vector<std::string>& sameLength = byLength_[key.size()];
    if (sameLength.size() < kKeysOfALength) {
      sameLength.push_back(key);
    }
    sawTabs_ = sawTabs_ || separatesByTabs(key);
  }
}

namespace {

bool sharesKey(const JoinPlan& plan, const Table& right) {
  for (std::size_t j = 0; j < right.columns.size(); ++j) {
    if (plan.columnOfKey.count(columnKey(right, j)) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

void StepWarnings::hintAtCrossStep(const Table& right, std::ostream& out) const {
  bool tabs = sawTabs_;
  for (std::size_t j = 0; j < std::min(right.columns.size(), kKeysOfALength); ++j) {
    const std::string key = columnKey(right, j);
    tabs = tabs || separatesByTabs(key);
    std::vector<std::string_view> similar;
    for (std::size_t length = key.size() < 2 ? 0 : key.size() - 2; length <= key.size() + 2;
         ++length) {
      if (const auto keys = byLength_.find(length); keys != byLength_.end()) {
        similar.insert(similar.end(), keys->second.begin(), keys->second.end());
      }
    }
    // One side has a typo, most likely the one before: the new table names the key
    // it is joined on. Keys with tabs are told of below.
    for (const auto& [edits, before] :
         tabs ? decltype(nearNames(key, similar)){} : nearNames(key, similar)) {
      out << kHint << "the column " << escapedForConsole(before) << " before "
          << escapedForConsole(right.name) << " and its column " << escapedForConsole(key)
          << " differ by " << edits << (edits == 1 ? " edit" : " edits") << ": did you mean "
          << escapedForConsole(key) << "?\n";
      break;
    }
  }
  if (tabs) {
    out << kHint << "the descriptors hold tabs, and only commas separate columns and cells\n";
  }
}

bool StepWarnings::refuseCrossStep(const JoinPlan& plan, const Table& right, std::ostream& out) {
  if (sharesKey(plan, right)) {
    return false;
  }
  out << "prg: --no-cross: "
      << (plan.tables.size() == 1
              ? escapedForConsole(plan.tables.front()->name) + " and " +
                    escapedForConsole(right.name) + " share no column key"
              : escapedForConsole(right.name) + " shares no column key with the tables before it")
      << '\n';
  hintAtCrossStep(right, out);
  return true;
}

void StepWarnings::warnOfStep(const JoinPlan& plan, const Table& right, std::ostream& out) {
  if (sharesKey(plan, right)) {
    return;
  }
  const std::size_t rightRows = rowCount(right);
  if (plan.tables.size() == 1) {
    out << kWarning << escapedForConsole(plan.tables.front()->name) << " and "
        << escapedForConsole(right.name) << " share no column: every pairing, "
        << rowCount(*plan.tables.front()) << " x " << rightRows << " rows\n";
  } else if (++crossSteps_ <= kLinesOfAKind) {
    out << kWarning << escapedForConsole(right.name)
        << " shares no column with the tables before it: each joined row is paired with its "
        << rightRows << " rows\n";
  }
  for (std::size_t j = 0; j < right.columns.size(); ++j) {
    const std::string key = columnKey(right, j);
    if (const auto match = byCase_.find(folded(key)); match != byCase_.end()) {
      if (++caseKeys_ <= kLinesOfAKind) {
        out << kWarning << "the column " << escapedForConsole(key) << " of "
            << escapedForConsole(right.name) << " and the column "
            << escapedForConsole(match->second) << " before it differ only in letter case\n";
      }
    } else if (const auto near = byTabs_.find(folded(withoutTabs(key))); near != byTabs_.end()) {
      if (++tabKeys_ <= kLinesOfAKind) {
        out << kWarning << "the column " << escapedForConsole(key) << " of "
            << escapedForConsole(right.name) << " and the column "
            << escapedForConsole(near->second)
            << " before it differ only in tabs or carriage returns\n";
      }
    }
  }
  if (plan.tables.size() == 1 || crossSteps_ <= kLinesOfAKind) {
    hintAtCrossStep(right, out);
  }
}

void StepWarnings::finish(std::ostream& out) const {
  if (crossSteps_ > kLinesOfAKind) {
    out << kWarning << (crossSteps_ - kLinesOfAKind)
        << " more tables share no column with the tables before them\n";
  }
  if (caseKeys_ > kLinesOfAKind) {
    out << kWarning << (caseKeys_ - kLinesOfAKind)
        << " more columns differ from one before them only in letter case\n";
  }
  if (tabKeys_ > kLinesOfAKind) {
    out << kWarning << (tabKeys_ - kLinesOfAKind)
        << " more columns differ from one before them only in tabs or carriage returns\n";
  }
  out << std::flush;
}

void warnOfEmptyResult(const JoinPlan& plan, std::size_t levelsWithRows, std::ostream& out) {
  // An empty table is named before a step that matches nothing.
  std::size_t level = 0;
  while (level < plan.tables.size() && rowCount(*plan.tables[level]) != 0) {
    ++level;
  }
  level = std::min(level, levelsWithRows);
  if (level == plan.tables.size()) {
    return;
  }
  const std::string name = escapedForConsole(plan.tables[level]->name);
  if (rowCount(*plan.tables[level]) == 0) {
    out << kWarning << "the result has no rows: " << name << " has none\n";
  } else {
    out << kWarning << "the result has no rows: no row of " << name
        << " matches the rows joined before it\n";
  }
  out << std::flush;
}

void hintAtHeader(std::string_view text, std::ostream& out) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    out << kHint << "the file starts with a byte order mark (EF BB BF) before join(; "
        << "save it without one\n";
  } else if (trimmedView(lineAt(text, 0)).empty()) {
    out << kHint << "the join header must be the very first line; the file starts with a "
        << "blank line\n";
  } else {
    out << kHint << "line 1 must read join(A, B, ...)\n";
  }
  out << std::flush;
}

void hintAtRefusedLine(std::string_view file, std::string_view text, std::size_t position,
                       const Table* table, std::ostream& out) {
  out << kHint << file << ':' << lineNumberAt(text, position) << ": the refused line\n";
  const std::string_view line = lineAt(text, position);
  const bool dataLine = table != nullptr;
  if (line.find('\t') != std::string_view::npos) {
    out << kHint << "the line holds tabs, and only commas separate "
        << (dataLine ? "cells" : "columns") << '\n';
  }
  // "2, Zoe," in a table of three columns: the comma ends Zoe, it opens no cell.
  const std::string_view trimmed = trimmedView(line);
  std::vector<std::string_view> fields;
  splitInto(trimmed, ',', fields);
  if (dataLine && trimmed.ends_with(',') && fields.size() + 1 == table->columns.size()) {
    out << kHint << "a comma at the end of a line only ends the last cell; an empty last cell "
        << "takes one more: " << escapedForConsole(trimmed) << ",\n";
  }
  if (dataLine && readsAsDescriptor(line)) {
    out << kHint << "it reads as the descriptor of a new table: a blank line must come "
        << "before it\n";
  }
  if (const std::size_t quote = unclosedQuoteAt(line); quote != std::string_view::npos) {
    out << kHint << "the apostrophe at byte " << quote + 1
        << " of the line opens a quote that is never closed, so the commas after it don't "
           "separate cells; write \\' for an apostrophe inside a cell\n";
  } else if (dataLine && line.find('"') != std::string_view::npos) {
    out << kHint << "double quotes don't quote: only apostrophes keep commas inside a cell\n";
  }
  out << std::flush;
}

void hintAtEmptyHeader(std::ostream& out) {
  out << kHint << "line 1 names no table; it must read join(A, B, ...)\n" << std::flush;
}

void warnOfRepeats(const std::vector<Table>& tables, std::ostream& out) {
  std::unordered_map<std::string_view, std::size_t> seen;
  std::size_t repeatedTables = 0;
  std::size_t repeatedKeys = 0;
  for (const Table& table : tables) {
    if (!seen.emplace(table.name, 0).second && ++repeatedTables <= kLinesOfAKind) {
      out << kWarning << "the table " << escapedForConsole(table.name)
          << " is defined again; the join uses the first one\n";
    }
    std::unordered_map<std::string, std::size_t> keys;
    for (std::size_t j = 0; j < table.columns.size(); ++j) {
      const std::string key = columnKey(table, j);
      if (!keys.emplace(key, j).second && ++repeatedKeys <= kLinesOfAKind) {
        out << kWarning << "the column key " << escapedForConsole(key) << " is given twice in "
            << escapedForConsole(table.name)
            << ": the join tells columns apart by their keys alone\n";
      }
    }
  }
  if (repeatedTables > kLinesOfAKind) {
    out << kWarning << (repeatedTables - kLinesOfAKind) << " more tables are defined again\n";
  }
  if (repeatedKeys > kLinesOfAKind) {
    out << kWarning << (repeatedKeys - kLinesOfAKind)
        << " more column keys are given twice in a descriptor\n";
  }
  out << std::flush;
}

void hintAtMissingTable(std::string_view file, const std::string& name,
                        const std::vector<Table>& tables, std::string_view text,
                        std::ostream& out) {
  std::vector<std::string_view> names;
  for (const Table& table : tables) {
    names.push_back(table.name);
  }
  const auto near = nearNames(name, names);
  for (std::size_t i = 0; i < near.size(); ++i) {
    out << (i == 0                 ? std::string(kHint) + "did you mean "
            : i + 1 == near.size() ? " or "
                                   : ", ")
        << escapedForConsole(near[i].second) << (i + 1 == near.size() ? "?\n" : "");
  }
  if (tables.empty()) {
    out << kHint << "the file holds no table\n";
  } else {
    out << kHint << "the file holds " << tables.size()
        << (tables.size() == 1 ? " table: " : " tables: ");
    for (std::size_t t = 0; t < std::min(tables.size(), kTablesListed); ++t) {
      out << (t == 0 ? "" : ", ") << escapedForConsole(tables[t].name);
    }
    out << (tables.size() > kTablesListed ? ", ...\n" : "\n");
  }
  std::size_t caseMisses = 0;
  std::size_t spaceMisses = 0;
  for (const Table& table : tables) {
    if (table.name != name && equalButForCase(table.name, name) && ++caseMisses <= kLinesOfAKind) {
      out << kHint << "a table is named " << escapedForConsole(table.name)
          << ", which differs only in letter case\n";
    }
    if (table.name != name && trimmedView(table.name) == name && ++spaceMisses <= kLinesOfAKind) {
      out << kHint << "a table is named \"" << escapedForConsole(table.name)
          << "\": a space before the parenthesis is part of the name\n";
    }
  }
  const std::size_t unshown = (caseMisses - std::min(caseMisses, kLinesOfAKind)) +
                              (spaceMisses - std::min(spaceMisses, kLinesOfAKind));
  if (unshown != 0) {
    out << kHint << unshown << " more tables have names that differ from "
        << escapedForConsole(name) << " only so\n";
  }
  // A descriptor right after the last row of a table, without the blank line, is
  // read as one more row when it has as many cells.
  const std::string opening = name + "(";
  RowList again;
  for (const Table& table : tables) {
    if (table.rowsLeftInText) {
      again = RowList(table.columns.size(), table.rowLines.data());
      readRowsAgain(table.rowLines, again);
    }
    for (const Row row : table.rowsLeftInText ? again : table.rows) {
      std::size_t position = 0;
      if (row.size() != 0 && row[0].substr(0, opening.size()) == opening &&
          rowStart(text, row[0], position)) {
        out << kHint << file << ':' << lineNumberAt(text, position) << ": reads as a row of "
            << table.name << ", not as the descriptor of " << name
            << ": a blank line must come before it\n";
        out << std::flush;
        return;
      }
    }
  }
  out << std::flush;
}
