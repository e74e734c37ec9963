// A join plan's rows as cells, one row at a time: slower than the result writer,
// and plain enough to compare the engine's rows with the reference's.
#pragma once

#include <functional>

#include "join/join_plan.h"

// Calls sink(cells) for every joined row, in order, until sink returns false.
bool forEachJoinedRow(const JoinPlan& plan, const std::function<bool(Cells)>& sink);

// The natural join of two tables, materialised; its name is empty.
Table joinTables(const Table& left, const Table& right);
