#pragma once
// Shared by the configuration tests: a fresh working directory per test,
// files written into it, and standard output captured line by line.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

namespace kvtest {

// chdir into a new mkdtemp directory; back and removed at the end.
class TempWorkDir {
public:
  TempWorkDir() : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvcfg.XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = made;
    std::filesystem::current_path(dir_);
  }
  ~TempWorkDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempWorkDir(const TempWorkDir&) = delete;
  TempWorkDir& operator=(const TempWorkDir&) = delete;

  // Writes a file at a path relative to the directory, making its folders.
  void write(const std::string& path, const std::string& text) const {
    const std::filesystem::path p = dir_ / path;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

  const std::filesystem::path& dir() const { return dir_; }

private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

// Captures std::cout. lines() splits what was written at the line ends and
// fails the test unless every line was flushed right after its line end.
class CoutCapture {
public:
  CoutCapture() : old_(std::cout.rdbuf(&buffer_)) {}
  ~CoutCapture() { std::cout.rdbuf(old_); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;

  std::string text() const { return buffer_.str(); }
  std::vector<std::string> lines() const {
    const std::string all = buffer_.str();
    EXPECT_TRUE(all.empty() || all.back() == '\n') << "unterminated output: " << all;
    std::vector<std::string> out;
    std::string::size_type start = 0;
    for (std::string::size_type end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
      out.push_back(all.substr(start, end - start));
      EXPECT_NE(buffer_.flushes.find(end + 1), buffer_.flushes.end()) << "line not flushed: " << out.back();
    }
    return out;
  }

private:
  struct Buffer : std::stringbuf {
    std::set<std::size_t> flushes;  // output lengths at which a flush came
    int sync() override {
      flushes.insert(str().size());
      return 0;
    }
  };
  Buffer buffer_;
  std::streambuf* old_;
};

inline Json::Value json(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &v, &errors)) throw std::runtime_error("bad test JSON: " + errors);
  return v;
}

}  // namespace kvtest
