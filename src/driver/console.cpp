#include "driver/console.h"

#include "output/placed_file.h"

int DescriptorBuffer::overflow(int byte) {
  if (byte == traits_type::eof()) {
    return traits_type::not_eof(byte);
  }
  const char one = traits_type::to_char_type(byte);
  return writeWhenReady(descriptor_, std::string_view(&one, 1)) == 1 ? byte : traits_type::eof();
}

std::streamsize DescriptorBuffer::xsputn(const char* bytes, std::streamsize count) {
  return static_cast<std::streamsize>(
      writeWhenReady(descriptor_, std::string_view(bytes, static_cast<std::size_t>(count))));
}

int Console::Forward::overflow(int byte) {
  if (byte == traits_type::eof()) {
    return traits_type::not_eof(byte);
  }
  const char one = traits_type::to_char_type(byte);
  (console_.*to_)(std::string_view(&one, 1));
  return byte;
}

std::streamsize Console::Forward::xsputn(const char* bytes, std::streamsize count) {
  (console_.*to_)(std::string_view(bytes, static_cast<std::size_t>(count)));
  return count;
}

Console::Console(std::streambuf& out, std::streambuf& err, Terminal terminal)
    : out_(out), err_(err), terminal_(terminal) {
  if (terminal.progressDescriptor >= 0) {
    progress_ = std::make_unique<ProgressLine>(terminal.progressDescriptor, terminal.firstDrawAfter,
                                               terminal.redrawEvery);
  }
}

Console::~Console() {
  finish();
}

void Console::tell(std::string_view text) {
  if (!quiet_) {
    toMessages(text);
  }
}

void Console::fail(std::string_view text) {
  toMessages(text);
}

void Console::hint(std::string_view text) {
  std::string line = "prg: hint: ";
  line.append(text).append("\n");
  toDiagnostics(line);
}

void Console::pass(std::string_view bytes, std::streambuf& target) {
  if (bytes.empty()) {
    return;
  }
  if (progress_ != nullptr) {
    progress_->passMessage(bytes, target);
    return;
  }
  target.sputn(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  target.pubsync();
}

void Console::toMessages(std::string_view bytes) {
  if (bytes.empty()) {
    return;
  }
  pass(bytes, messageTarget());
  messageLineOpen_.store(bytes.back() != '\n');
  // What was held back for the line's end follows it.
  if (!messageLineOpen_.load()) {
    passHeld("");
  }
}

void Console::passHeld(std::string_view before) {
  if (!held_.empty()) {
    const std::string held = std::string(before) + held_;
    held_.clear();
    pass(held, err_);
  }
}

void Console::toDiagnostics(std::string_view bytes) {
  if (diagnosticsDropped_) {
    return;
  }
  if (messageLineOpen_.load()) {
    held_.append(bytes);
    return;
  }
  pass(bytes, err_);
}

void Console::finish() {
  passHeld(terminal_.shared ? "\n" : "");
  progress_.reset();
}

void Console::sayInEnding(std::string_view message, std::string_view hint, bool startLine) const {
  if (progress_ != nullptr) {
    progress_->eraseFromEnding();
  }
  std::streambuf& target = messageTarget();
  if (startLine && messageLineOpen_.load()) {
    target.sputc('\n');
  }
  target.sputn(message.data(), static_cast<std::streamsize>(message.size()));
  if (!diagnosticsDropped_) {
    err_.sputn(hint.data(), static_cast<std::streamsize>(hint.size()));
  }
}
