// The last stage of a run: the tables the header names are joined from left to right
// and the result is appended to the output file.

#include "driver/application.h"
#include "join/natural_join.h"
#include "output/result_writer.h"

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
      result.workLimit = joinWorkLimit;
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
  writeTableStart(output, result.name, result.columns);
  const JoinedRowWriter rowWriter(result);
  forEachJoinedTuple(result, [this, &rowWriter](const std::uint32_t* tuple) {
    rowWriter.write(output, tuple);
    return true;
  });
  return output.flush();
}
