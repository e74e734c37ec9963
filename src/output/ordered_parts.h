// Numbered parts of an output, filled at once by several threads, handed on in the
// order of their numbers, from part 0. Bookkeeping only: the caller holds whatever
// lock guards it and moves the pieces where they go.
#pragma once

#include <cstddef>
#include <map>
#include <utility>
#include <vector>

template <typename Piece>
class OrderedParts {
 public:
  // A piece of the due part goes on at once; the caller holds others.
  bool due(std::size_t part) const { return part == due_; }
  void hold(std::size_t part, Piece piece) {
    held_[part].pieces.push_back(std::move(piece));
    ++heldPieces_;
  }
  // The pieces held for parts not due yet.
  std::size_t held() const { return heldPieces_; }

  // Part has no more pieces: hands deliver, in order, every held piece that is
  // now due.
  template <typename Deliver>
  void end(std::size_t part, Deliver&& deliver) {
    held_[part].ended = true;
    for (;;) {
      const auto found = held_.find(due_);
      if (found == held_.end()) {
        return;
      }
      for (Piece& piece : found->second.pieces) {
        --heldPieces_;
        deliver(std::move(piece));
      }
      found->second.pieces.clear();
      if (!found->second.ended) {
        return;
      }
      held_.erase(found);
      ++due_;
    }
  }

 private:
  struct Held {
    std::vector<Piece> pieces;
    bool ended = false;
  };
  std::map<std::size_t, Held> held_;
  std::size_t heldPieces_ = 0;
  std::size_t due_ = 0;
};
