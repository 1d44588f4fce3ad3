#pragma once
// Captures what the code under test writes to std::cout for the life of a
// scope. lines() splits it at the line ends and fails the test unless every
// line was flushed right after its line end.
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kvtest {

class CaptureStdout {
public:
  CaptureStdout() : old_(std::cout.rdbuf(&buffer_)) {}
  ~CaptureStdout() { std::cout.rdbuf(old_); }
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;

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

}  // namespace kvtest
