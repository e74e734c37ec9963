// A run's files held in memory: the input is given text, the output's bytes
// collect in a string; no file is touched.
#pragma once

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
  explicit MemoryFiles(std::string_view input) : input_(input) {}
  bool readInput(const std::string&, InputText& text, Console&) override {
    text.assign(input_);
    return true;
  }
  bool openOutput(const InputText&, const std::string&, OutputFile& output, Console&) override {
    output.openOn(output_);
    return true;
  }
  const std::string& output() const { return output_.bytes(); }

 private:
  std::string_view input_;
  StringSink output_;
};
