// A scratch folder of each test's own, made anew in the system's temporary folder and removed
// with everything in it when the test ends, whatever the test left read-only.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace support {

namespace fs = std::filesystem;

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    do {
      root_ = fs::temp_directory_path() / ("sk-test-" + std::to_string(random()));
    } while (!fs::create_directory(root_));
  }

  void TearDown() override {
    std::error_code ignored;
    for (auto entry = fs::recursive_directory_iterator(root_, ignored);
         entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
      if (entry->is_directory(ignored) && !entry->is_symlink(ignored)) {
        fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(root_, ignored);
  }

  fs::path root_;
};

/// A scratch folder holding a game folder, `game_`, with its System folder.
class GameTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    game_ = root_ / "game";
    fs::create_directories(game_ / "System");
  }

  fs::path game_;
};

/// The name of a parameterised case, for INSTANTIATE_TEST_SUITE_P: its `name`.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

}  // namespace support
