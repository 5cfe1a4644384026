#pragma once
// Test helpers of the scan tests: a private working directory, and a log file
// whose lines can be read back.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "structs/logging.hpp"

namespace kestrel::testing {

// Runs each test in a fresh temporary working directory (the CSV files go
// there) and restores the previous one afterwards.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-scan-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  // The CSV files in the working directory.
  std::vector<std::filesystem::path> csv_files() const {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().extension() == ".csv")
        found.push_back(entry.path().filename());
    }
    return found;
  }

  // The content of the one CSV file the test made.
  std::string only_csv() const {
    const auto files = csv_files();
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? std::string() : read_file(dir_ / files.front());
  }

  static std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path dir_;

 private:
  std::filesystem::path previous_;
};

// Logs into a file of the working directory while it lives.
class LogCapture {
 public:
  LogCapture() : path_(std::filesystem::current_path() / "test.log") {
    EXPECT_TRUE(log::start(path_).has_value());
  }
  ~LogCapture() { log::shutdown(); }

  // Stops logging and gives the lines written.
  std::vector<std::string> lines() {
    log::shutdown();
    std::vector<std::string> result;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);)
      result.push_back(line);
    return result;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrel::testing
