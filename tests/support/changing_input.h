// An input that another program changes while a run reads it, the way a mapped file
// shows such a change: its bytes change in place, their size kept, at the moment
// the run asks the asking-th time whether they changed. The run asks after each of
// its stages, so each asking is another moment between two stages.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "tables/input_text.h"

// What a run says once it found its input changed under it.
inline constexpr char kInputChangedHint[] =
    "prg: hint: the input file changed during the run; the run uses the text as it read it\n";

class ChangingInput : public InputSource {
 public:
  using Change = void (*)(std::string& bytes);
  ChangingInput(std::string text, int asking, Change change)
      : bytes_(std::move(text)), asking_(asking), change_(change) {}

  std::string_view text() const override { return bytes_; }
  const FileIdentity& identity() const override { return identity_; }
  bool changedSinceTaken() const override {
    if (++asked_ == asking_) {
      change_(bytes_);
      changed_ = true;
    }
    return changed_ || inputChangesNoted() != notedBefore_;
  }

  // Cut to half its size: a mapped file reads as zero bytes past its end.
  static void cutInHalf(std::string& bytes) {
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), bytes.end(), '\0');
  }
  // More fields a line: the space after each comma becomes a comma.
  static void commasDoubled(std::string& bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
      if (bytes[i] == ',' && bytes[i + 1] == ' ') {
        bytes[i + 1] = ',';
      }
    }
  }
  // More lines, fewer fields: each comma becomes a line end.
  static void commasToLineEnds(std::string& bytes) {
    std::replace(bytes.begin(), bytes.end(), ',', '\n');
  }

 private:
  mutable std::string bytes_;
  FileIdentity identity_;
  int asking_;
  Change change_;
  mutable int asked_ = 0;
  mutable bool changed_ = false;
  unsigned notedBefore_ = inputChangesNoted();
};
