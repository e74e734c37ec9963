#include "join/joined_rows.h"

#include <algorithm>
#include <span>

void JoinedChunk::positionsByLevel(const std::vector<LevelPositions>& wanted,
                                   std::vector<std::vector<std::uint64_t>>& positions) const {
  positions.resize(levels_.size());
  // entry[i]: where joined row i stands in the chunk of the level being visited.
  std::vector<std::uint32_t> entry(size());
  for (std::size_t i = 0; i < entry.size(); ++i) {
    entry[i] = static_cast<std::uint32_t>(i);
  }
  for (std::size_t level = levels_.size(); level-- > 0;) {
    const ChunkLevel& chunk = levels_[level];
    std::vector<std::uint64_t>& out = positions[level];
    if (wanted[level] == LevelPositions::kRows) {
      out.resize(entry.size());
      for (std::size_t i = 0; i < entry.size(); ++i) {
        out[i] = chunk.rows[entry[i]];
      }
    } else if (wanted[level] == LevelPositions::kPayloads) {
      out.resize(entry.size());
      for (std::size_t i = 0; i < entry.size(); ++i) {
        out[i] = chunk.payloads[entry[i]];
      }
    }
    if (level == 0) {
      break;
    }
    for (std::uint32_t& e : entry) {
      e = chunk.parents[e];
    }
  }
}

bool JoinWorkBudget::draw(std::size_t count) {
  std::size_t left = left_.load(std::memory_order_relaxed);
  do {
    if (left < count) {
      left_.store(0, std::memory_order_relaxed);
      exhausted_.store(true, std::memory_order_relaxed);
      return false;
    }
  } while (!left_.compare_exchange_weak(left, left - count, std::memory_order_relaxed));
  return true;
}

namespace {

// Partial rows are extended a chunk at a time. Level k holds partial rows that have
// taken k steps; each step fills the next level's chunk from its own, and a full
// chunk is taken further down before the filling resumes, so memory stays bounded
// by the chunk size at every level while the rows come out in fold order. The walk
// over the levels is a loop, not a recursion, so a chain of any length fits the
// stack.
class Enumerator {
 public:
  Enumerator(const JoinPlan& plan, const std::vector<LevelPositions>& wanted,
             const JoinedChunkSink& sink, FirstRows first, JoinWorkBudget* budget)
      : plan_(plan),
        sink_(sink),
        budget_(budget),
        first_(first.rows != nullptr ? *first.rows : plan.tables.front()->rows),
        firstRow_(first.begin),
        firstEnd_(std::min(first.end, first_.size())),
        chunkRows_(chunkRowsFor(plan.tables.size())),
        levels_(plan.tables.size()),
        resume_(plan.tables.size()),
        rowsKept_(plan.tables.size(), false) {
    // Row positions past level 0 cost a read of the index each; they are kept
    // where a reader wants them or a later step takes its key from them.
    for (std::size_t level = 0; level < wanted.size(); ++level) {
      rowsKept_[level] = level == 0 || wanted[level] == LevelPositions::kRows;
    }
    keysRead_.assign(plan.tables.size(), false);
    for (std::size_t step = 0; step < plan.steps.size(); ++step) {
      for (const ColumnSource source : plan.leftKeysOf(step)) {
        rowsKept_[source.level] = true;
        keysRead_[source.level] = keysRead_[source.level] || source.level > 0;
        tracksOrigins_ = tracksOrigins_ || (source.level == 0 && step > 1);
      }
    }
  }

  bool run() {
    const std::size_t last = levels_.size() - 1;
    std::size_t level = 0;
    while (fillFirstLevel()) {
      for (;;) {
        levelsWithRows_ = std::max(levelsWithRows_, level + 1);
        if (level == last) {
          if (!sink_(JoinedChunk(levels_, first_))) {
            return false;
          }
          clear(level);
          if (level == 0) {
            break;
          }
          --level;
          continue;
        }
        if (!fill(level + 1)) {
          return false;
        }
        if (entries(level + 1) != 0) {
          ++level;
          restartAfter(level);
          continue;
        }
        if (level == 0) {
          break;
        }
        clear(level);
        --level;
      }
    }
    return true;
  }

  std::size_t levelsWithRows() const { return levelsWithRows_; }

 private:
  // The levels share one budget of partial rows, so that a long chain holds no
  // more than a short one; a chunk small enough to stay in the cache until its rows
  // are written saves fetching a match's row twice from memory.
  static constexpr std::size_t kChunkRowsBudget = std::size_t{1} << 12;
  static constexpr std::size_t kMostChunkRows = std::size_t{1} << 10;
  static constexpr std::size_t kFewestChunkRows = 64;
  static std::size_t chunkRowsFor(std::size_t levels) {
    return std::clamp(kChunkRowsBudget / levels, kFewestChunkRows, kMostChunkRows);
  }

  static constexpr std::size_t kKeysReadAhead = 16;

  // Where the filling of a level stopped: the next entry of the level before to
  // probe, and the matches of an entry that did not all fit.
  struct Resume {
    std::size_t next = 0;
    HashIndex::Match pending;
    std::uint32_t pendingParent = 0;
  };

  std::size_t entries(std::size_t level) const {
    return level == 0 ? levels_[0].rows.size() : levels_[level].parents.size();
  }

  // A level holds a new chunk: the level after it fills from its first entry.
  void restartAfter(std::size_t level) {
    if (level + 1 < resume_.size()) {
      resume_[level + 1] = Resume{};
    }
  }

  void clear(std::size_t level) {
    levels_[level].rows.clear();
    levels_[level].parents.clear();
    levels_[level].payloads.clear();
    levels_[level].origins.clear();
  }

  bool fillFirstLevel() {
    ChunkLevel& first = levels_.front();
    first.rows.clear();
    const std::size_t end = std::min(firstEnd_, firstRow_ + chunkRows_);
    for (; firstRow_ < end; ++firstRow_) {
      first.rows.push_back(static_cast<std::uint32_t>(firstRow_));
    }
    restartAfter(0);
    return !first.rows.empty();
  }

  // The row position at sourceLevel of entry e of level `from`.
  std::uint32_t rowAt(std::size_t from, std::uint32_t e, std::size_t sourceLevel) const {
    if (sourceLevel == 0 && from > 0 && tracksOrigins_) {
      return levels_[0].rows[levels_[from].origins[e]];
    }
    for (std::size_t level = from; level > sourceLevel; --level) {
      e = levels_[level].parents[e];
    }
    return levels_[sourceLevel].rows[e];
  }

  const RowList& rowsAt(std::size_t level) const {
    return level == 0 ? first_ : plan_.tables[level]->rows;
  }

  Cells keyOf(std::size_t stepNumber, std::size_t from, std::uint32_t e) {
    key_.clear();
    for (const ColumnSource source : plan_.leftKeysOf(stepNumber)) {
      const std::uint32_t row = rowAt(from, e, source.level);
      key_.push_back(rowsAt(source.level)[row][source.column]);
    }
    return key_;
  }

  // The rows of a level past the first are met in no order, so each key would
  // wait for memory before its probe can even be hashed. Their cells were fetched
  // as the rows were appended; the text they point to lies in the mapped input,
  // whose small pages a prefetch does not reach in time (it made no measured
  // difference), so the first bytes of a batch of keys ahead are read instead, in a
  // loop whose loads wait for memory side by side.
  void readKeysAhead(std::size_t stepNumber, std::size_t from, std::size_t begin,
                     std::size_t end) const {
    const ColumnSource source = plan_.leftKeysOf(stepNumber).front();
    unsigned char seen = 0;
    for (std::size_t e = begin; e < end; ++e) {
      const auto entry = static_cast<std::uint32_t>(e);
      const std::string_view cell =
          rowsAt(source.level)[rowAt(from, entry, source.level)][source.column];
      seen |= cell.empty() ? 0 : static_cast<unsigned char>(cell.front());
    }
    // Kept, so that the loads are not dropped as unused.
    asm volatile("" : : "r"(seen));
  }

  // Takes up to room of match's rows into out, and leaves match with the others.
  void append(std::size_t level, const HashIndex& index, HashIndex::Match& match,
              std::uint32_t parent, std::size_t room) {
    ChunkLevel& out = levels_[level];
    const std::size_t take = std::min<std::size_t>(match.count, room);
    if (rowsKept_[level]) {
      out.rows.insert(out.rows.end(), match.rows, match.rows + take);
    }
    // A later step's key lies in these rows' cells, met in no order: fetched now,
    // into the outer caches, they are there by the time this level is probed.
    if (keysRead_[level]) {
      const RowList& rows = rowsAt(level);
      for (std::size_t k = 0; k < take; ++k) {
        __builtin_prefetch(rows[match.rows[k]].storage(), 0, 2);
      }
    }
    out.parents.insert(out.parents.end(), take, parent);
    if (tracksOrigins_) {
      out.origins.insert(out.origins.end(), take,
                         level == 1 ? parent : levels_[level - 1].origins[parent]);
    }
    std::uint64_t payload = match.payload;
    for (std::size_t k = 0; k < take; ++k) {
      out.payloads.push_back(payload);
      payload = index.nextPayload(payload);
    }
    match.rows += take;
    match.count -= static_cast<std::uint32_t>(take);
    match.payload = payload;
  }

  // Extends the partial rows of level - 1 into level, until its chunk is full or
  // the level before is used up. False when the work budget is spent.
  bool fill(std::size_t level) {
    ChunkLevel& out = levels_[level];
    Resume& resume = resume_[level];
    const std::size_t room = chunkRows_;
    const std::size_t stepNumber = level - 1;
    const HashIndex& index = *plan_.steps[stepNumber].index;
    append(level, index, resume.pending, resume.pendingParent, room);
    const std::size_t start = resume.next;
    const std::size_t count = entries(level - 1) - start;
    if (out.parents.size() < room && count > 0) {
      const bool keyed = plan_.steps[stepNumber].keyCount != 0 && level > 1;
      const auto probeOf = [&](std::size_t i) {
        if (keyed && i % kKeysReadAhead == 0) {
          // The first batch just before it is probed, each later one a batch ahead.
          const std::size_t first = i == 0 ? 0 : i + kKeysReadAhead;
          readKeysAhead(stepNumber, level - 1, start + first,
                        std::min(start + count, start + i + 2 * kKeysReadAhead));
        }
        return index.probeFor(keyOf(stepNumber, level - 1, static_cast<std::uint32_t>(start + i)));
      };
      const auto extend = [&](std::size_t i, HashIndex::Probe probe) {
        const auto entry = static_cast<std::uint32_t>(start + i);
        HashIndex::Match matches = index.find(keyOf(stepNumber, level - 1, entry), probe);
        append(level, index, matches, entry, room - out.parents.size());
        resume.next = entry + 1;
        if (matches.count != 0) {
          resume.pending = matches;
          resume.pendingParent = entry;
        }
        return out.parents.size() < room;
      };
      if (index.probeInOrder(count, probes_, rowsKept_[level], probeOf, extend)) {
        resume.next = start + count;
      }
    }
    return budget_ == nullptr || budget_->draw(out.parents.size());
  }

  const JoinPlan& plan_;
  const JoinedChunkSink& sink_;
  JoinWorkBudget* budget_;
  const RowList& first_;
  std::size_t firstRow_;
  std::size_t firstEnd_;
  std::size_t chunkRows_;
  std::vector<ChunkLevel> levels_;
  std::vector<Resume> resume_;
  std::vector<bool> rowsKept_;
  std::vector<bool> keysRead_;  // by level: a later step takes its key from its cells
  bool tracksOrigins_ = false;
  std::vector<std::string_view> key_;
  HashIndex::ProbeRing probes_{};
  std::size_t levelsWithRows_ = 0;
};

}  // namespace

bool forEachJoinedChunk(const JoinPlan& plan, const std::vector<LevelPositions>& wanted,
                        const JoinedChunkSink& sink, FirstRows first, JoinWorkBudget* budget,
                        std::size_t* levelsWithRows) {
  Enumerator enumerator(plan, wanted, sink, first, budget);
  const bool complete = enumerator.run();
  if (levelsWithRows != nullptr) {
    *levelsWithRows = std::max(*levelsWithRows, enumerator.levelsWithRows());
  }
  return complete;
}
