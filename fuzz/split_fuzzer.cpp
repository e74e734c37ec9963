// Cuts arbitrary bytes with both separators the tool uses and checks what every cut
// must keep: each byte that is not a cut separator lands in exactly one field, in
// order, an empty line gives no field, and every wide cut is the plain one. Read as
// a text of lines, each line cut with its end found in the same pass is the line
// found first and cut after.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "text/split.h"
#include "text/split_paths.h"
#include "text/string_helpers.h"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void checkCut(std::string_view line, char separator) {
  std::vector<std::string_view> fields;
  splitInto(line, separator, fields);
  // The cut that looks at many bytes at once is the plain cut.
  std::vector<std::string_view> plain;
  splitIntoPlainly(line, separator, plain);
  check(plain.size() == fields.size() && fieldCount(line, separator) == plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i) {
    check(plain[i].data() == fields[i].data() && plain[i].size() == fields[i].size());
  }
  // And trimmed, as data lines are read: the plain cut of the trimmed line, each
  // field trimmed.
  std::vector<std::string_view> trimmed;
  splitTrimmedInto(line, separator, trimmed);
  splitIntoPlainly(trimmedView(line), separator, plain);
  check(plain.size() == trimmed.size());
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const std::string_view field = trimmedView(plain[i]);
    check(field.data() == trimmed[i].data() && field.size() == trimmed[i].size());
  }
  if (line.empty()) {
    check(fields.empty());
    return;
  }
  check(!fields.empty());
  // Fields are stretches of the line, in order, each followed by exactly one
  // separator byte, except that the last may run to the end of the line.
  std::size_t position = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string_view field = fields[i];
    check(field.data() == line.data() + position);
    position += field.size();
    if (position == line.size()) {
      check(i + 1 == fields.size());
      return;
    }
    check(line[position] == separator);
    ++position;
  }
  check(position == line.size());
}

// The lines of text as the readers find them, one at a time, against the same
// lines cut alone.
void checkLines(std::string_view text) {
  std::vector<std::string_view> fields;
  std::vector<std::string_view> alone;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t found = text.find('\n', at);
    const std::size_t next = found == std::string_view::npos ? text.size() : found + 1;
    std::string_view expected = text.substr(at, next - at);
    if (!expected.empty() && expected.back() == '\n') {
      expected.remove_suffix(1);
    }
    if (!expected.empty() && expected.back() == '\r') {
      expected.remove_suffix(1);
    }
    std::string_view line;
    std::size_t count = 0;
    check(fieldCountOfLineAt(text, at, ',', count, line) == next);
    check(line.data() == expected.data() && line.size() == expected.size());
    check(count == fieldCount(trimmedView(expected), ','));
    check(splitTrimmedLineAt(text, at, ',', fields, line) == next);
    check(line.data() == expected.data() && line.size() == expected.size());
    splitTrimmedInto(expected, ',', alone);
    check(fields.size() == alone.size());
    for (std::size_t i = 0; i < alone.size(); ++i) {
      check(fields[i].data() == alone[i].data() && fields[i].size() == alone[i].size());
    }
    at = next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  // Every way through a line the CPU has.
  for (const CutPath path : {CutPath::kBytes, CutPath::kSse2, CutPath::kAvx2}) {
    if (path <= widestCutPath()) {
      takeCutPath(path);
      checkCut(line, ',');
      checkCut(line, ' ');
      checkLines(line);
    }
  }
  takeCutPath(widestCutPath());
  return 0;
}
