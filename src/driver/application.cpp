#include "driver/application.h"

#include "text/string_helpers.h"

const char* const defaultSuffix = "1k.txt";

Application::Application(std::ostream& consoleStream) : console(consoleStream) {}

int Application::run(int argc, const char* const* argv) {
  if (!openFiles(argc, argv, defaultSuffix)) {
    return output.hasFailed() ? kOutputWriteFailed : kFilesFailed;
  }
  return parseAndJoin();
}

void Application::useInMemoryFiles(std::string_view text) {
  inputText.assign(text);
  readPosition = 0;
  output.openInMemory();
  output.write(inputText.view());
  output.flush();
}

// Every non-blank line opens a table; the lines after it, up to a blank line, are
// its rows, so tables after the first must be set apart by a blank line.
int Application::parseAndJoin() {
  if (!readHeader()) {
    return kHeaderFailed;
  }
  std::string_view line;
  while (nextLine(line)) {
    const std::string_view descriptor = trimmedView(line);
    if (descriptor.empty()) {
      continue;
    }
    if (!parseTableDescriptor(std::string(descriptor))) {
      console << "Error parsing tableDescriptor: " << descriptor << '\n';
      return kDescriptorFailed;
    }
    Table& table = tables.back();
    if (!readTableData(table)) {
      console << "Error reading table data from table: " << table.name << '\n';
      return kTableDataFailed;
    }
  }
  console << "Parsing the input file complete.\n";
  return joinChain();
}

bool Application::nextLine(std::string_view& line) {
  if (readPosition >= inputText.size()) {
    return false;
  }
  line = inputText.view().substr(readPosition);
  const std::size_t lineEnd = line.find('\n');
  if (lineEnd == std::string_view::npos) {
    readPosition = inputText.size();
  } else {
    line = line.substr(0, lineEnd);
    readPosition += lineEnd + 1;
  }
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return true;
}
