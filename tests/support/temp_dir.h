#pragma once
// A fresh temporary directory for the life of a scope, removed at its end;
// TempWorkDir also makes it the working directory meanwhile.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace kvtest {

class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvtest.XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = made;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // A path inside the directory, as text.
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Writes a file at a path relative to the directory, making its folders.
  void write(const std::string& name, const std::string& text) const {
    const std::filesystem::path p = dir_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

private:
  std::filesystem::path dir_;
};

class TempWorkDir : public TempDir {
public:
  TempWorkDir() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir()); }
  ~TempWorkDir() { std::filesystem::current_path(previous_); }

private:
  std::filesystem::path previous_;
};

}  // namespace kvtest
