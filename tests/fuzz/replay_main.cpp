// Runs a fuzz target over every file of the directories (or the files)
// given, as the normal test suites do with its checked-in corpus: the
// target keeps compiling and its corpus stays clean with every compiler and
// sanitizer, without libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path p = fs::absolute(argv[i]);  // the target may change the working directory
    if (fs::is_directory(p)) {
      for (const auto& e : fs::directory_iterator(p))
        if (e.is_regular_file()) files.push_back(e.path());
    } else if (fs::is_regular_file(p)) {
      files.push_back(p);
    } else {
      std::cerr << argv[i] << ": no such file or directory\n";
      return 2;
    }
  }
  if (files.empty()) {
    std::cerr << "usage: " << argv[0] << " CORPUS_DIR|FILE... (at least one input)\n";
    return 2;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A copy of exactly the input's size, so that reading past it is caught.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    std::cerr << "input " << f.filename().string() << " (" << input.size() << " bytes)\n";
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::cerr << files.size() << " inputs, no fault\n";
  return 0;
}
