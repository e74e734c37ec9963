// A run's files held in memory: the input is given text, the output's bytes
// collect in a string; no file is touched.
#pragma once

#include <string>
#include <string_view>

#include "driver/application.h"
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

inline RunFiles filesInMemory(std::string_view input, StringSink& output) {
  return RunFiles{[input](const std::string&, InputText& text, std::ostream&, std::ostream&) {
                    text.assign(input);
                    return true;
                  },
                  [&output](const InputText&, const std::string&, OutputFile& file, std::ostream&,
                            std::ostream&) {
                    file.openOn(output);
                    return true;
                  }};
}
