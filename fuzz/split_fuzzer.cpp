// Cuts arbitrary bytes with both separators the tool uses and checks what every cut
// must keep: each byte that is not a cut separator lands in exactly one field, in
// order, an empty line gives no field, and every wide cut is the plain one.

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  // Every way through a line the CPU has.
  for (const CutPath path : {CutPath::kBytes, CutPath::kSse2, CutPath::kAvx2}) {
    if (path <= widestCutPath()) {
      takeCutPath(path);
      checkCut(line, ',');
      checkCut(line, ' ');
    }
  }
  takeCutPath(widestCutPath());
  return 0;
}
