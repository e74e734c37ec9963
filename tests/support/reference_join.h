// A plain model of tables and the join as the definition states it, against which
// the real engine and whole runs are compared.
#pragma once

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "tables/table.h"

using Strings = std::vector<std::string>;

struct PlainTable {
  std::string name;
  Strings columns;
  std::vector<Strings> rows;
};

// The first word of a descriptor, where a space inside apostrophes doesn't count.
std::string referenceKey(const std::string& descriptor);

// Every pair of rows compared on every right column whose key the left table has,
// against the last left column of that key; the result's name is empty.
PlainTable referenceJoin(const PlainTable& left, const PlainTable& right);

// The text a run appends for table: "\n\n", its descriptor line, its rows.
std::string renderResult(const PlainTable& table);

// Copies of cells and tables of the engine's own kind. Tables made here view text
// owned by the builder, so they live no longer than it.
class TableBuilder {
 public:
  Table make(const std::string& name, const Strings& columns, const std::vector<Strings>& rows);
  Table make(const PlainTable& table) { return make(table.name, table.columns, table.rows); }

 private:
  std::deque<std::string> storage_;
};

std::vector<Strings> rowsOf(const Table& table);

// Random small tables full of what trips an index or a parser: duplicate keys,
// shared left keys, repeated right keys, empty cells, quoted cells with commas, and
// no common column at all.
class RandomTables {
 public:
  explicit RandomTables(unsigned start) : random_(start) {}

  // A parsable table can be written in the input notation: it has a column, and no
  // empty cell that could leave a blank line.
  PlainTable table(const std::string& name, bool parsable);
  // The table in the input notation, each data line in one of several layouts:
  // tidy, a space after each comma, spaces around commas, a final comma.
  std::string input(const PlainTable& table);

  std::size_t pick(std::size_t bound) { return random_() % (bound + 1); }

 private:
  std::mt19937 random_;
};
