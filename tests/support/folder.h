// A fresh temporary folder in which the built program runs, with the console bytes
// and exit status of each run.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Under a sanitizer its own allocator answers for memory, its runtime must be
// loaded first, and its frames are larger: tests of limits run in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainBuild = false;
#else
constexpr bool kPlainBuild = true;
#endif

class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "prg-e2e-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~Folder() { std::filesystem::remove_all(path_); }

  const std::filesystem::path& path() const { return path_; }
  static std::string program() {
    std::string quoted = "'";
    quoted.append(PRG_BINARY).append("'");
    return quoted;
  }

  void write(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << content;
  }

  std::optional<std::string> read(const std::string& name) const {
    std::ifstream file(path_ / name, std::ios::binary);
    if (!file || std::filesystem::is_directory(path_ / name)) {
      return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  // The names in the folder, sorted; hidden ones too.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  // Every name under the folder, by its path relative to it, with what it holds: a
  // file's bytes, "-> target" for a symbolic link, "<dir>" and "<fifo>".
  std::map<std::string, std::string> contents() const {
    std::map<std::string, std::string> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      const std::filesystem::directory_entry& entry = *it;
      const std::string name = entry.path().lexically_relative(path_).string();
      const std::filesystem::file_status status = entry.symlink_status();
      if (std::filesystem::is_symlink(status)) {
        found[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
      } else if (std::filesystem::is_directory(status)) {
        found[name] = "<dir>";
      } else if (std::filesystem::is_fifo(status)) {
        found[name] = "<fifo>";
      } else {
        found[name] = read(name).value_or("<unreadable>");
      }
    }
    return found;
  }

  struct Outcome {
    std::string console;
    int status;
  };

  Outcome runPrg(const std::string& arguments) const {
    return runShell(program() + " " + arguments);
  }

  // Runs a shell command in the folder; program() names the tool in it.
  Outcome runShell(const std::string& command) const {
    const std::string inFolder = "cd '" + path_.string() + "' && " + command;
    FILE* pipe = popen(inFolder.c_str(), "r");
    std::string console;
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) {
      console.append(block, got);
    }
    const int raw = pclose(pipe);
    return {console, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
  }

 private:
  std::filesystem::path path_;
};
