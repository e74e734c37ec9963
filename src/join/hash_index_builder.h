// Builds the hash index of a table by some of its columns.
#pragma once

#include <cstddef>
#include <vector>

#include "join/hash_index.h"
#include "join/key_hash.h"
#include "tables/table.h"
#include "text/cell_encoder.h"

class HashIndexBuilder {
 public:
  // Builds on the given number of threads, hashes keys with hash, and writes the
  // payloads' cells as encoder writes them.
  explicit HashIndexBuilder(unsigned threads = 1, KeyHash hash = KeyHash(),
                            CellEncoder encoder = {});

  // Indexes every row of table by its cells in keyColumns (in that order). With no
  // key column all rows share the one empty key. The table holds at most
  // kMaxTableRows rows, which the parser enforces; its rows are read from its cells
  // when it keeps them, else from its text. The rows are hashed once and scattered
  // by the top bits of their hashes into partitions, each then built on its own
  // while it sits in the cache.
  HashIndex build(const Table& table, const std::vector<std::size_t>& keyColumns) const;

 private:
  unsigned threads_;
  KeyHash hash_;
  CellEncoder encoder_;
};
