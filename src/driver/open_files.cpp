#include "driver/application.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "driver/run_ending.h"
#include "text/string_helpers.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool Application::openFiles(int argc, const char* const* argv, std::string suffix) {
  console << "Usage: prg [inputfile] [outputfile]\n" << std::flush;
  std::string inputName = "input" + suffix;
  std::string outputName = "output" + suffix;
  if (argc == 2) {
    inputName = argv[1];
    std::string rest = inputName;
    if (!stripPrefix(rest, "input")) {
      console << "Can't gues the output file. Input file name should look like input***** to "
                 "gues the output file \n"
              << std::flush;
      return false;
    }
    outputName = "output" + rest;
  } else if (argc == 3) {
    inputName = argv[1];
    outputName = argv[2];
  } else if (argc > 3) {
    console << "Too many arguments!\n" << std::flush;
    return false;
  }
  console << "Opening input file: " << inputName << '\n' << std::flush;
  // The whole input is read before the output is opened, so that no failure of the
  // input can cost the output file its previous content.
  if (!files.readInput(inputName, inputText, console, diagnostics)) {
    return false;
  }
  lines = LineReader(inputText.view());
  console << "Opening output file: " << outputName << '\n' << std::flush;
  if (!files.openOutput(inputName, outputName, output, console, diagnostics)) {
    return false;
  }
  outputOpened = true;
  output.writeBorrowed(inputText.view());
  return true;
}

namespace {

// The system's reason for the last failure, after the run's own message.
void hintReason(std::ostream& hints, int number) {
  hints << "prg: hint: " << std::strerror(number) << '\n' << std::flush;
}

bool readInputFile(const std::string& path, InputText& inputText, std::ostream& console,
                   std::ostream& hints) {
  const InputFile file(openInputFile(path, console, hints));
  if (file == nullptr) {
    return false;
  }
  std::error_code error;
  std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    size = 0;
  }
  if (!inputText.readFrom(file.get(), static_cast<std::size_t>(size))) {
    const int reason = errno;
    console << "Can't read input file!\n" << std::flush;
    hintReason(hints, reason);
    return false;
  }
  return true;
}

bool openOutputFile(const std::string& inputName, const std::string& outputName, OutputFile& output,
                    std::ostream& console, std::ostream& hints) {
  // Opening the output truncates it, and when it is the input file too that would
  // destroy the data; the names alone can't tell (./a, links), the file identity can.
  std::error_code error;
  if (std::filesystem::equivalent(inputName, outputName, error)) {
    console << "Input and output file are the same!\n" << std::flush;
    return false;
  }
  output.startWriter();
  errno = 0;
  if (!output.open(outputName)) {
    const int reason = errno;
    console << "Can't open output file!\n" << std::flush;
    if (reason != 0) {
      hintReason(hints, reason);
    }
    return false;
  }
  watchOutput(&output);
  return true;
}

}  // namespace

std::FILE* openInputFile(const std::string& path, std::ostream& console, std::ostream& hints) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    console << "Can't open input file!\n" << std::flush;
    hintReason(hints, EISDIR);
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int reason = errno;
    console << "Can't open input file!\n" << std::flush;
    hintReason(hints, reason);
  }
  return file;
}

RunFiles filesOnDisk() {
  return RunFiles{readInputFile, openOutputFile};
}

RunFiles filesInMemory(std::string_view input, std::string& output) {
  return RunFiles{[input](const std::string&, InputText& text, std::ostream&, std::ostream&) {
                    text.assign(input);
                    return true;
                  },
                  [&output](const std::string&, const std::string&, OutputFile& file, std::ostream&,
                            std::ostream&) {
                    file.openInMemory(output);
                    return true;
                  }};
}
