#include "join/joined_rows.h"

#include <algorithm>
#include <span>

void JoinedChunk::positionsByLevel(const std::vector<bool>& wanted,
                                   std::vector<std::vector<std::uint32_t>>& positions) const {
  positions.resize(levels_.size());
  // entry[i]: where joined row i stands in the chunk of the level being visited.
  std::vector<std::uint32_t> entry(size());
  for (std::size_t i = 0; i < entry.size(); ++i) {
    entry[i] = static_cast<std::uint32_t>(i);
  }
  for (std::size_t level = levels_.size(); level-- > 0;) {
    const ChunkLevel& chunk = levels_[level];
    if (wanted[level]) {
      std::vector<std::uint32_t>& out = positions[level];
      out.resize(entry.size());
      for (std::size_t i = 0; i < entry.size(); ++i) {
        out[i] = chunk.rows[entry[i]];
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

namespace {

// Partial rows are extended a chunk at a time. Level k holds partial rows that have
// taken k steps; each step fills the next level's chunk from its own, and a full
// chunk is taken further down before the filling resumes, so memory stays bounded
// by the chunk size at every level while the rows come out in fold order. The walk
// over the levels is a loop, not a recursion, so a chain of any length fits the
// stack.
class Enumerator {
 public:
  Enumerator(const JoinPlan& plan, const JoinedChunkSink& sink, JoinWorkLimit limit)
      : plan_(plan),
        sink_(sink),
        workLeft_(limit.partialRows),
        levels_(plan.tables.size()),
        resume_(plan.tables.size()) {}

  bool run() {
    const std::size_t last = levels_.size() - 1;
    std::size_t level = 0;
    while (fillFirstLevel()) {
      for (;;) {
        if (level == last) {
          if (!sink_(JoinedChunk(levels_))) {
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
        if (!levels_[level + 1].rows.empty()) {
          ++level;
          if (level < last) {
            resume_[level + 1] = Resume{};
          }
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

 private:
  static constexpr std::size_t kChunkRows = std::size_t{1} << 13;

  // Where the filling of a level stopped: the next entry of the level before to
  // probe, and the matches of an entry that did not all fit.
  struct Resume {
    std::size_t next = 0;
    std::span<const std::uint32_t> pending;
    std::uint32_t pendingParent = 0;
  };

  void clear(std::size_t level) {
    levels_[level].rows.clear();
    levels_[level].parents.clear();
  }

  bool fillFirstLevel() {
    const std::size_t rowCount = plan_.tables.front()->rows.size();
    ChunkLevel& first = levels_.front();
    first.rows.clear();
    const std::size_t end = std::min(rowCount, firstRow_ + kChunkRows);
    for (; firstRow_ < end; ++firstRow_) {
      first.rows.push_back(static_cast<std::uint32_t>(firstRow_));
    }
    resume_[1 % resume_.size()] = Resume{};
    return !first.rows.empty();
  }

  // The row position at sourceLevel of entry e of level `from`.
  std::uint32_t rowAt(std::size_t from, std::uint32_t e, std::size_t sourceLevel) const {
    for (std::size_t level = from; level > sourceLevel; --level) {
      e = levels_[level].parents[e];
    }
    return levels_[sourceLevel].rows[e];
  }

  Cells keyOf(std::size_t stepNumber, std::size_t from, std::uint32_t e) {
    const JoinStep& step = plan_.steps[stepNumber];
    key_.clear();
    for (std::size_t k = 0; k < step.leftKeys.size(); ++k) {
      const ColumnSource source = step.leftKeys[k];
      const std::uint32_t row = rowAt(from, e, source.level);
      key_.push_back(plan_.tables[source.level]->rows[row][source.column]);
    }
    return key_;
  }

  void append(ChunkLevel& out, std::span<const std::uint32_t> matches, std::uint32_t parent) {
    for (std::uint32_t match : matches) {
      out.rows.push_back(match);
      out.parents.push_back(parent);
    }
  }

  // Extends the partial rows of level - 1 into level, until its chunk is full or
  // the level before is used up. False when the work limit is reached.
  bool fill(std::size_t level) {
    ChunkLevel& out = levels_[level];
    const ChunkLevel& in = levels_[level - 1];
    Resume& resume = resume_[level];
    const std::size_t room = kChunkRows;
    const std::size_t take = std::min(resume.pending.size(), room);
    append(out, resume.pending.first(take), resume.pendingParent);
    resume.pending = resume.pending.subspan(take);
    const std::size_t stepNumber = level - 1;
    const RowIndex& index = *plan_.steps[stepNumber].index;
    const std::size_t start = resume.next;
    const std::size_t count = in.rows.size() - start;
    if (out.rows.size() < room && count > 0) {
      const auto hashOf = [&](std::size_t i) {
        return RowIndex::hashKey(
            keyOf(stepNumber, level - 1, static_cast<std::uint32_t>(start + i)));
      };
      const auto extend = [&](std::size_t i, std::uint64_t hash) {
        const auto entry = static_cast<std::uint32_t>(start + i);
        const std::span<const std::uint32_t> matches =
            index.find(keyOf(stepNumber, level - 1, entry), hash);
        const std::size_t fits = std::min(matches.size(), room - out.rows.size());
        append(out, matches.first(fits), entry);
        resume.next = entry + 1;
        if (fits < matches.size()) {
          resume.pending = matches.subspan(fits);
          resume.pendingParent = entry;
        }
        return out.rows.size() < room;
      };
      if (index.probeInOrder(count, hashes_, hashOf, extend)) {
        resume.next = in.rows.size();
      }
    }
    if (out.rows.size() > workLeft_) {
      return false;
    }
    workLeft_ -= out.rows.size();
    return true;
  }

  const JoinPlan& plan_;
  const JoinedChunkSink& sink_;
  std::size_t workLeft_;
  std::size_t firstRow_ = 0;
  std::vector<ChunkLevel> levels_;
  std::vector<Resume> resume_;
  std::vector<std::string_view> key_;
  RowIndex::ProbeRing hashes_{};
};

}  // namespace

bool forEachJoinedChunk(const JoinPlan& plan, const JoinedChunkSink& sink, JoinWorkLimit limit) {
  Enumerator enumerator(plan, sink, limit);
  return enumerator.run();
}

bool forEachJoinedRow(const JoinPlan& plan, const std::function<bool(Cells)>& sink) {
  std::vector<bool> wanted(plan.tables.size());
  for (ColumnSource source : plan.sources) {
    wanted[source.level] = true;
  }
  std::vector<std::vector<std::uint32_t>> positions;
  std::vector<std::string_view> row(plan.sources.size());
  return forEachJoinedChunk(plan, [&](const JoinedChunk& chunk) {
    chunk.positionsByLevel(wanted, positions);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      for (std::size_t c = 0; c < row.size(); ++c) {
        const ColumnSource source = plan.sources[c];
        row[c] = plan.tables[source.level]->rows[positions[source.level][i]][source.column];
      }
      if (!sink(Cells(row.data(), row.size()))) {
        return false;
      }
    }
    return true;
  });
}
