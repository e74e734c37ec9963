#include "join/hash_index_builder.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "tables/cell_array.h"
#include "tables/table_parsing.h"
#include "threads/threads.h"

namespace {

// Slots are kept at most this full (in tenths), so that a probe stays short.
constexpr std::size_t kMostLoad = 8;
// A partition holds about this many rows, so that it is built in the cache.
constexpr std::size_t kRowsAPartition = std::size_t{1} << 13;
constexpr std::size_t kMostPartitions = std::size_t{1} << 16;
// The rows are hashed and scattered a stretch at a time, stretches taken in turn
// by the threads: of the kept rows, and of the text's bytes.
constexpr std::size_t kRowsAStretch = std::size_t{1} << 16;
constexpr std::size_t kBytesAStretch = std::size_t{1} << 22;

std::size_t lengthBytes(std::uint64_t length) {
  std::size_t bytes = 1;
  for (; length >= 0x80; length >>= 7) {
    ++bytes;
  }
  return bytes;
}

char* writeLength(char* to, std::uint64_t length) {
  for (; length >= 0x80; length >>= 7) {
    *to++ = static_cast<char>((length & 0x7F) | 0x80);
  }
  *to++ = static_cast<char>(length);
  return to;
}

char* writeBytes(char* to, std::string_view bytes) {
  if (!bytes.empty()) {
    std::memcpy(to, bytes.data(), bytes.size());
  }
  return to + bytes.size();
}

}  // namespace

namespace {

// The first room of every thread's entries of a run of neighbouring partitions,
// taken from the heap at once. Taken a partition at a time, the heap's lock would
// be held while each fresh page is first touched, and a thread would wait for the
// other's page faults; a few large blocks leave the touching to the threads that
// write the entries, side by side. A block goes back to the heap, for the records
// to reuse, once all its partitions are built.
class ScatterBlocks {
 public:
  ScatterBlocks(std::size_t partitions, unsigned threads, std::size_t share)
      : share_(share),
        threads_(threads),
        perBlock_(std::clamp<std::size_t>(kBlockBytes / (threads * share), 1, partitions)),
        blocks_((partitions + perBlock_ - 1) / perBlock_),
        unbuilt_(std::make_unique<std::atomic<std::size_t>[]>(blocks_.size())) {
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      const std::size_t count = std::min(perBlock_, partitions - b * perBlock_);
      unbuilt_[b] = count;
      blocks_[b] = static_cast<char*>(reallocOrFail(nullptr, count * threads * share));
    }
  }
  ScatterBlocks(const ScatterBlocks&) = delete;
  ScatterBlocks& operator=(const ScatterBlocks&) = delete;
  ~ScatterBlocks() {
    for (char* block : blocks_) {
      std::free(block);
    }
  }

  // The room of thread's entries of partition.
  char* room(unsigned thread, std::size_t partition) const {
    const std::size_t inBlock = partition % perBlock_;
    return blocks_[partition / perBlock_] + (inBlock * threads_ + thread) * share_;
  }
  std::size_t share() const { return share_; }
  // Called once for each partition built; frees the blocks no partition needs.
  void built(std::size_t partition) {
    const std::size_t b = partition / perBlock_;
    if (--unbuilt_[b] == 0) {
      std::free(std::exchange(blocks_[b], nullptr));
    }
  }

 private:
  // Blocks stay below the size above which the heap maps memory of its own, so that
  // what one frees serves the next allocations.
  static constexpr std::size_t kBlockBytes = std::size_t{16} << 20;

  std::size_t share_;
  unsigned threads_;
  std::size_t perBlock_;
  std::vector<char*> blocks_;
  std::unique_ptr<std::atomic<std::size_t>[]> unbuilt_;
};

// The rows one thread scattered into one partition: the entries of the stretches
// it took, one after another, and where each stretch's lie. They start in the room
// lent to them; when that is full they go on in chunks of their own, so that no
// entry is ever moved and no byte counts twice. Every byte is written before it is
// read.
class Scattered {
 public:
  struct StretchEntries {
    std::size_t number;
    const char* begin;
    const char* end;
  };
  Scattered() = default;
  Scattered(const Scattered&) = delete;
  Scattered& operator=(const Scattered&) = delete;
  Scattered(Scattered&&) = default;
  Scattered& operator=(Scattered&&) = default;

  bool empty() const { return stretches_.empty(); }
  void lend(char* memory, std::size_t capacity) {
    at_ = memory;
    left_ = capacity;
  }
  // Room for count more bytes of an entry of stretch number; the caller writes
  // them all.
  char* extend(std::size_t number, std::size_t count) {
    if (count > left_) {
      // Past the room the estimate gave, by a little, as a rule: a chunk a quarter
      // of what came before is seldom outgrown.
      const std::size_t capacity = std::max(count, written_ / 4 + 64);
      chunks_.emplace_back(static_cast<char*>(reallocOrFail(nullptr, capacity)));
      at_ = chunks_.back().get();
      left_ = capacity;
    }
    // A stretch that goes on in a chunk has a piece there.
    if (stretches_.empty() || stretches_.back().number != number || stretches_.back().end != at_) {
      stretches_.push_back({number, at_, at_});
    }
    char* const to = at_;
    at_ += count;
    left_ -= count;
    written_ += count;
    stretches_.back().end = at_;
    ++entries_;
    return to;
  }
  // In the order scattered; a stretch may have more than one when it went on in a
  // chunk.
  const std::vector<StretchEntries>& stretches() const { return stretches_; }
  std::size_t entries() const { return entries_; }
  // Once the partition is built.
  void release() {
    std::vector<std::unique_ptr<char, Free>>().swap(chunks_);
    std::vector<StretchEntries>().swap(stretches_);
  }

 private:
  struct Free {
    void operator()(char* bytes) const { std::free(bytes); }
  };
  char* at_ = nullptr;
  std::size_t left_ = 0;
  std::size_t written_ = 0;
  std::size_t entries_ = 0;
  std::vector<std::unique_ptr<char, Free>> chunks_;
  std::vector<StretchEntries> stretches_;
};

template <typename T>
void put(char*& to, T value) {
  std::memcpy(to, &value, sizeof value);
  to += sizeof value;
}

template <typename T>
T take(const char*& at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  at += sizeof value;
  return value;
}

// Where an index's rows come from, a stretch at a time, taken in turn by the
// threads: the rows a table keeps, whose positions the join reads, or those of
// its text, read again, that have none worth keeping.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual std::size_t stretches() const = 0;
  // The rows of stretch number, in again when they are read again (a list each
  // thread keeps); first is the position of the first.
  struct Stretch {
    const RowList* rows;
    std::size_t begin;
    std::size_t end;
    std::size_t first;
  };
  virtual Stretch stretch(std::size_t number, RowList& again) const = 0;
  virtual bool positioned() const = 0;
  // About the bytes that the rows' entries take, given the bytes each adds to
  // its cells.
  virtual std::size_t entryBytes(std::size_t perRow) const = 0;
};

class KeptRows : public RowSource {
 public:
  explicit KeptRows(const Table& table) : table_(table) {}
  std::size_t stretches() const override {
    return (table_.rows.size() + kRowsAStretch - 1) / kRowsAStretch;
  }
  Stretch stretch(std::size_t number, RowList&) const override {
    const std::size_t begin = number * kRowsAStretch;
    return {&table_.rows, begin, std::min(table_.rows.size(), begin + kRowsAStretch), begin};
  }
  bool positioned() const override { return true; }
  std::size_t entryBytes(std::size_t perRow) const override {
    return (perRow + 2 + 8 * table_.columns.size()) * table_.rows.size();
  }

 private:
  const Table& table_;
};

class RowsInText : public RowSource {
 public:
  explicit RowsInText(const Table& table) : table_(table), lines_(table.rowLines, kBytesAStretch) {}
  std::size_t stretches() const override { return lines_.count(); }
  Stretch stretch(std::size_t number, RowList& again) const override {
    readRowsAgain(lines_.stretch(number), again);
    return {&again, 0, again.size(), 0};
  }
  bool positioned() const override { return false; }
  std::size_t entryBytes(std::size_t perRow) const override {
    return table_.rowLines.size() + perRow * rowCount(table_);
  }

 private:
  const Table& table_;
  LineStretches lines_;
};

// Builds an index in two passes. The first hashes every row once and scatters an
// entry of it into its partition by the hash: its position when the index keeps
// positions, its key and its payload, as its record will hold them. The second
// builds each partition from its entries in table order: it groups them, lays out
// the records and then the slots, each at its final size, and gives the entries'
// memory back for the next partitions.
class PartitionedBuild : HashIndexLayout {
 public:
  PartitionedBuild(HashIndexParts& parts, const Table& table, const RowSource& source,
                   const std::vector<std::size_t>& keyColumns, unsigned threads,
                   CellEncoder encoder)
      : index_(parts),
        table_(table),
        source_(source),
        keyColumns_(keyColumns),
        encoder_(encoder),
        requestedThreads_(std::max(threads, 1u)) {
    for (std::size_t column = 0; column < table.columns.size(); ++column) {
      if (std::find(keyColumns.begin(), keyColumns.end(), column) == keyColumns.end()) {
        otherColumns_.push_back(column);
      }
    }
    rows_ = rowCount(table);
    const std::size_t partitions =
        std::min(kMostPartitions, std::bit_ceil(std::max<std::size_t>(rows_ / kRowsAPartition, 1)));
    const auto bits = static_cast<unsigned>(std::countr_zero(partitions));
    parts.partitionShift = bits == 0 ? 63 : 64 - bits;
    parts.partitionMask = partitions - 1;
    parts.partitions.resize(partitions);
    stretches_ = source.stretches();
    threads_ = static_cast<unsigned>(
        std::clamp<std::size_t>(std::min<std::size_t>(threads, stretches_), 1, 64));
    blocks_.emplace(partitions, threads_, scatteredShare());
    scattered_.resize(threads_);
    for (std::vector<Scattered>& own : scattered_) {
      own = std::vector<Scattered>(partitions);
    }
  }

  void build() {
    std::atomic<std::size_t> nextStretch{0};
    runOnThreads(threads_, [&](unsigned thread) {
      RowList again(table_.columns.size(), table_.rowLines.data());
      std::vector<std::string_view> key;
      for (std::size_t s = nextStretch++; s < stretches_; s = nextStretch++) {
        scatterStretch(s, thread, again, key);
      }
    });
    std::atomic<std::size_t> nextPartition{0};
    std::atomic<std::size_t> groups{0};
    const std::size_t partitions = index_.partitions.size();
    runOnThreads(static_cast<unsigned>(std::min<std::size_t>(requestedThreads_, partitions)),
                 [&](unsigned) {
                   Grouping grouping;
                   for (std::size_t p = nextPartition++; p < partitions; p = nextPartition++) {
                     groups += buildPartition(p, grouping);
                   }
                 });
    index_.groups = groups;
  }

 private:
  // A group of equal keys while a partition is built.
  struct Group {
    std::uint64_t fingerprint;
    const char* key;  // the key's bytes in its first entry, when not its fingerprint
    std::uint32_t keyBytes;
    std::uint32_t count;
    std::uint64_t renderingBytes;
    std::uint64_t record;  // its place in the partition's records
    std::uint64_t next;    // where its next payload goes in the partition's records
    std::uint64_t nextPosition;
  };
  // One thread's memory for building partitions, used for each in turn.
  struct Grouping {
    std::vector<std::uint32_t> table;  // group numbers by hash, kNoGroup where free
    std::vector<Group> groups;
    // The partition's entries of each stretch, in table order.
    struct StretchSpan {
      std::size_t number;
      std::size_t piece;  // of its stretch, which goes on in a chunk when it outgrows one
      const char* begin;
      const char* end;
    };
    std::vector<StretchSpan> stretches;
  };
  static constexpr std::uint32_t kNoGroup = 0xFFFFFFFF;

  // The room each partition of a thread is lent for its entries, sized once from
  // the table's size: an entry takes about its line's bytes (the cells without the
  // spaces around them, with a length each instead of a separator) and its
  // position. The hash spreads the rows evenly; a partition that gets more moves to
  // room of its own, and the room of one that gets none (few keys) is never touched.
  std::size_t scatteredShare() const {
    const std::size_t perRow = keyColumns_.size() + (index_.positions ? 4 : 0);
    const std::size_t bytes = source_.entryBytes(perRow);
    const std::size_t share = bytes / (threads_ * index_.partitions.size());
    return share + share / 16 + 64;
  }

  void scatterStretch(std::size_t number, unsigned thread, RowList& again,
                      std::vector<std::string_view>& key) {
    std::vector<Scattered>& own = scattered_[thread];
    const RowSource::Stretch rows = source_.stretch(number, again);
    for (std::size_t r = rows.begin; r < rows.end; ++r) {
      const Row row = (*rows.rows)[r];
      key.clear();
      for (std::size_t column : keyColumns_) {
        key.push_back(row[column]);
      }
      const KeyProbe probe = index_.hash.probe(key);
      const std::size_t partition = (probe.hash >> index_.partitionShift) & index_.partitionMask;
      Scattered& into = own[partition];
      if (into.empty()) {
        into.lend(blocks_->room(thread, partition), blocks_->share());
      }
      scatterRow(into, number, row, static_cast<std::uint32_t>(rows.first + r - rows.begin));
    }
  }

  void scatterRow(Scattered& into, std::size_t stretch, const Row& row, std::uint32_t position) {
    std::size_t length = otherColumns_.empty() ? 0 : otherColumns_.size() - 1;
    for (std::size_t column : otherColumns_) {
      length += encoder_.lengthOf(row[column]);
    }
    std::size_t bytes = lengthBytes(length) + length;
    if (index_.positions) {
      bytes += sizeof position;
    }
    for (std::size_t column : keyColumns_) {
      bytes += lengthBytes(row[column].size()) + row[column].size();
    }
    char* to = into.extend(stretch, bytes);
    if (index_.positions) {
      put(to, position);
    }
    for (std::size_t column : keyColumns_) {
      to = writeLength(to, row[column].size());
      to = writeBytes(to, row[column]);
    }
    to = writeLength(to, length);
    for (std::size_t i = 0; i < otherColumns_.size(); ++i) {
      if (i != 0) {
        *to++ = encoder_.separator;
      }
      to = encoder_.writeTo(to, row[otherColumns_[i]]);
    }
  }

  // An entry read back: where its key and its payload (with its length) lie.
  struct Entry {
    std::uint64_t fingerprint;
    std::uint32_t position;
    const char* key;
    std::uint32_t keyBytes;
    const char* payload;
    std::uint32_t renderingBytes;
  };
  // The key's fingerprint is worked out again from its cells, in the cache, rather than
  // scattered with them: eight bytes a row less of memory touched the first time.
  Entry readEntry(const char*& at, std::vector<std::string_view>& cells) const {
    Entry entry{};
    if (index_.positions) {
      entry.position = take<std::uint32_t>(at);
    }
    entry.key = at;
    for (std::string_view& cell : cells) {
      const std::uint64_t length = readLength(at);
      cell = std::string_view(at, length);
      at += length;
    }
    entry.keyBytes = static_cast<std::uint32_t>(at - entry.key);
    entry.fingerprint = index_.hash.probe(cells).fingerprint;
    entry.payload = at;
    at += readLength(at);
    entry.renderingBytes = static_cast<std::uint32_t>(at - entry.payload);
    return entry;
  }

  // Calls visit(entry) for each entry of partition p, in table order.
  template <typename Visit>
  void forEachEntry(const Grouping& grouping, Visit&& visit) const {
    std::vector<std::string_view> cells(keyColumns_.size());
    for (const Grouping::StretchSpan& stretch : grouping.stretches) {
      for (const char* at = stretch.begin; at != stretch.end;) {
        visit(readEntry(at, cells));
      }
    }
  }

  std::uint64_t slotHash(std::uint64_t fingerprint) const {
    return index_.hash.hashOf(fingerprint);
  }

  // Builds partition p; returns its number of groups.
  std::size_t buildPartition(std::size_t p, Grouping& grouping) {
    grouping.stretches.clear();
    std::size_t entries = 0;
    for (const std::vector<Scattered>& own : scattered_) {
      entries += own[p].entries();
      // A stretch is one thread's, and its pieces follow each other in its list.
      std::size_t piece = 0;
      for (const Scattered::StretchEntries& stretch : own[p].stretches()) {
        grouping.stretches.push_back({stretch.number, piece++, stretch.begin, stretch.end});
      }
    }
    std::sort(grouping.stretches.begin(), grouping.stretches.end(),
              [](const Grouping::StretchSpan& a, const Grouping::StretchSpan& b) {
                return a.number != b.number ? a.number < b.number : a.piece < b.piece;
              });
    groupEntries(grouping, entries);
    Partition& partition = index_.partitions[p];
    layOutRecords(partition, grouping, entries);
    placeSlots(partition, grouping.groups);
    for (std::vector<Scattered>& own : scattered_) {
      own[p].release();
    }
    blocks_->built(p);
    return grouping.groups.size();
  }

  // The group of entry, found among those grouped so far, or kNoGroup.
  std::uint32_t groupOf(const Grouping& grouping, const Entry& entry, std::size_t& at) const {
    const std::size_t mask = grouping.table.size() - 1;
    for (at = slotHash(entry.fingerprint) & mask;; at = (at + 1) & mask) {
      const std::uint32_t number = grouping.table[at];
      if (number == kNoGroup) {
        return kNoGroup;
      }
      const Group& group = grouping.groups[number];
      if (group.fingerprint == entry.fingerprint &&
          (entry.fingerprint < KeyHash::kHashedFingerprint ||
           (group.keyBytes == entry.keyBytes &&
            std::memcmp(group.key, entry.key, entry.keyBytes) == 0))) {
        return number;
      }
    }
  }

  // Gives the groups a table twice as large, when they fill half of it: it grows
  // with the groups, not with the rows, of which one key may have millions.
  void growTable(Grouping& grouping) const {
    grouping.table.assign(2 * grouping.table.size(), kNoGroup);
    const std::size_t mask = grouping.table.size() - 1;
    for (std::size_t number = 0; number < grouping.groups.size(); ++number) {
      std::size_t at = slotHash(grouping.groups[number].fingerprint) & mask;
      while (grouping.table[at] != kNoGroup) {
        at = (at + 1) & mask;
      }
      grouping.table[at] = static_cast<std::uint32_t>(number);
    }
  }

  void groupEntries(Grouping& grouping, std::size_t entries) const {
    constexpr std::size_t kMostFirstGroups = std::size_t{1} << 14;
    grouping.table.assign(std::bit_ceil(2 * std::min(entries, kMostFirstGroups) + 2), kNoGroup);
    grouping.groups.clear();
    forEachEntry(grouping, [&](const Entry& entry) {
      std::size_t at = 0;
      std::uint32_t number = groupOf(grouping, entry, at);
      if (number == kNoGroup) {
        number = static_cast<std::uint32_t>(grouping.groups.size());
        grouping.table[at] = number;
        grouping.groups.push_back(
            Group{entry.fingerprint, entry.key, entry.keyBytes, 0, 0, 0, 0, 0});
        if (2 * grouping.groups.size() > grouping.table.size()) {
          growTable(grouping);
        }
      }
      Group& group = grouping.groups[number];
      ++group.count;
      group.renderingBytes += entry.renderingBytes;
    });
  }

  void layOutRecords(Partition& partition, Grouping& grouping, std::size_t entries) const {
    std::uint64_t bytes = 0;
    std::uint64_t position = 0;
    for (Group& group : grouping.groups) {
      group.next = bytes;
      group.nextPosition = position;
      bytes += lengthBytes(group.count) + (index_.positions ? lengthBytes(position) : 0) +
               (group.fingerprint >= KeyHash::kHashedFingerprint ? group.keyBytes
                                                                 : sizeof group.fingerprint) +
               group.renderingBytes;
      position += group.count;
    }
    if (bytes > kSlotOffsetMask) {
      throw std::bad_alloc();  // a slot can't tell where such records lie
    }
    partition.records.reset(new char[std::max<std::uint64_t>(bytes, 1)]);
    char* const records = partition.records.get();
    if (index_.positions) {
      partition.positions.reset(new std::uint32_t[std::max<std::size_t>(entries, 1)]);
    }
    adviseHugePagesOnHeap();
    for (Group& group : grouping.groups) {
      group.record = group.next;
      char* to = records + group.next;
      to = writeLength(to, group.count);
      if (index_.positions) {
        to = writeLength(to, group.nextPosition);
      }
      if (group.fingerprint >= KeyHash::kHashedFingerprint) {
        to = writeBytes(to, std::string_view(group.key, group.keyBytes));
      } else {
        put(to, group.fingerprint);
      }
      group.next = static_cast<std::uint64_t>(to - records);
    }
    // Each entry's group is looked up again rather than remembered: the table is
    // in the cache, and a partition of one key's millions of rows needs no more.
    forEachEntry(grouping, [&](const Entry& entry) {
      std::size_t at = 0;
      Group& group = grouping.groups[groupOf(grouping, entry, at)];
      std::memcpy(records + group.next, entry.payload, entry.renderingBytes);
      group.next += entry.renderingBytes;
      if (index_.positions) {
        partition.positions[group.nextPosition++] = entry.position;
      }
    });
  }

  void placeSlots(Partition& partition, const std::vector<Group>& groups) const {
    const std::size_t slotCount = std::bit_ceil(groups.size() * 10 / kMostLoad + 1);
    partition.slots.assign(slotCount, kFree);
    partition.mask = slotCount - 1;
    for (const Group& group : groups) {
      const std::uint64_t hash = slotHash(group.fingerprint);
      std::size_t at = hash & partition.mask;
      while (partition.slots[at] != kFree) {
        at = (at + 1) & partition.mask;
      }
      partition.slots[at] = fingerprint(hash) | group.record;
    }
  }

  HashIndexParts& index_;
  const Table& table_;
  const RowSource& source_;
  const std::vector<std::size_t>& keyColumns_;
  std::vector<std::size_t> otherColumns_;
  CellEncoder encoder_;
  std::size_t rows_ = 0;
  std::size_t stretches_ = 0;
  unsigned requestedThreads_;
  unsigned threads_ = 1;  // that scatter
  std::optional<ScatterBlocks> blocks_;
  std::vector<std::vector<Scattered>> scattered_;  // by thread, then partition
};

}  // namespace

HashIndexBuilder::HashIndexBuilder(unsigned threads, KeyHash hash, CellEncoder encoder)
    : threads_(threads), hash_(hash), encoder_(encoder) {}

HashIndex HashIndexBuilder::build(const Table& table,
                                  const std::vector<std::size_t>& keyColumns) const {
  HashIndexParts parts;
  parts.hash = hash_;
  parts.keyColumnCount = keyColumns.size();
  const auto buildFrom = [&](const RowSource& source) {
    parts.positions = source.positioned();
    PartitionedBuild(parts, table, source, keyColumns, threads_, encoder_).build();
  };
  if (table.rowsLeftInText) {
    buildFrom(RowsInText(table));
  } else {
    buildFrom(KeptRows(table));
  }
  return HashIndex(std::move(parts));
}
