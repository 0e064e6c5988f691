// A fresh temporary folder per test, removed afterwards, with small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vuv::testing {

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vuv-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  std::string pathOf(const std::string& name) const { return (folder_ / name).string(); }

  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  // Every name below `sub` (the whole folder by default), hidden ones included, as sorted
  // relative paths: shows leftover temporary files.
  std::vector<std::string> entries(const std::string& sub = "") const {
    const std::filesystem::path top = sub.empty() ? folder_ : folder_ / sub;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
      names.push_back(entry.path().lexically_relative(top).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path folder_;
};

}  // namespace vuv::testing
