// A run's files held in memory: the input is given text, the output's bytes
// collect in a string; no file is touched.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "driver/run.h"
#include "output/sink.h"

class StringSink : public Sink {
 public:
  std::size_t write(std::string_view bytes) override {
    bytes_.append(bytes);
    return bytes.size();
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class MemoryFiles : public RunFiles {
 public:
  using Source = std::function<std::unique_ptr<InputSource>()>;
  // The input is text held, or what source makes for each run.
  explicit MemoryFiles(std::string_view input) : input_(input) {}
  explicit MemoryFiles(Source source) : source_(std::move(source)) {}
  std::unique_ptr<InputSource> readInput(const std::string&, Console&) override {
    if (source_) {
      return source_();
    }
    auto text = std::make_unique<HeldText>();
    text->assign(input_);
    return text;
  }
  bool openOutput(const InputSource&, const std::string&, OutputFile& output, Console&) override {
    output.openOn(output_);
    return true;
  }
  const std::string& output() const { return output_.bytes(); }

 private:
  std::string_view input_;
  Source source_;
  StringSink output_;
};
