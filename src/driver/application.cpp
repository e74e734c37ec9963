#include "driver/application.h"

#include "output/result_writer.h"
#include "tables/table_parsing.h"
#include "text/string_helpers.h"

const char* const defaultSuffix = "1k.txt";

Application::Application(std::ostream& consoleStream, MemoryRun* files)
    : console(consoleStream),
      memoryRun(files),
      parallelism(files != nullptr ? files->parallelism : machineParallelism()) {}

// Every non-blank line after the header opens a table; the lines after it, up to a
// blank line, are its rows, so tables after the first must be set apart by one.
int Application::run(int argc, const char* const* argv) {
  if (!openFiles(argc, argv, defaultSuffix)) {
    return output.hasFailed() ? kOutputWriteFailed : kFilesFailed;
  }
  if (!readHeader()) {
    return kHeaderFailed;
  }
  std::string_view line;
  while (lines.next(line)) {
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

bool Application::readHeader() {
  return ::readHeader(lines, joinList, console);
}

bool Application::parseTableDescriptor(std::string line) {
  return ::parseTableDescriptor(std::move(line), tables);
}

bool Application::readTableData(Table& table) {
  return ::readTableData(lines, table, console);
}

const Table* Application::findTable(const std::string& name) const {
  return ::findTable(tables, name);
}

int Application::joinChain() {
  if (joinList.empty()) {
    console << "No tables in to join !\n";
    return kNoTablesToJoin;
  }
  console << "Joining the tables: ";
  JoinPlan result;
  for (std::size_t i = 0; i < joinList.size(); ++i) {
    const Table* table = findTable(joinList[i]);
    if (table == nullptr) {
      console << "Table " << joinList[i] << "not found!\n";
      return kTableNotFound;
    }
    if (i == 0) {
      result = startJoin(*table);
      continue;
    }
    addJoinStep(result, *table);
    console << '.';
  }
  // The rows themselves are produced while they are written, so no joined table,
  // final or intermediate, is ever held in memory.
  console << "\nJoin complete.\n";
  result.name = "result";
  if (!writeResult(result)) {
    console << "Can't write output file!\n";
    return kOutputWriteFailed;
  }
  console << "Output written.";
  return kResultWritten;
}

bool Application::writeResult(const JoinPlan& result) {
  const JoinWorkLimit limit = memoryRun != nullptr ? memoryRun->joinWork : JoinWorkLimit{};
  return writeJoinedTable(result, output, parallelism, limit);
}
