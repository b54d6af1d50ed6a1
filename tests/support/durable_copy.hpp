// The fixture of the tests of copy (tests/shell/linux/): a scratch folder to run command lines in,
// a table of copies of one file onto targets, each run in a child that may first become a
// player or have a call refused, and what those tests set up alike: an ACL that denies a group,
// and the refusal of a link by a run that stays root.
#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "shell/linux/recovery_copy.hpp"
#include "support/refusals.hpp"
#include "support/scratch_shell.hpp"
#include "support/setup.hpp"

namespace support {

/// What the rows copy: longer than a file may grow under a small file-size limit, and than a
/// report line may be.
inline constexpr char kNew[] =
    "new settings: a line longer than the limit below, and so is the whole file; new settings";

/// What a child does before its copy: it starts as a player (with the state folder of
/// DurableCopy::PlayersStateFolder()).
inline bool BecomePlayer() {
  const bool became = setgroups(0, nullptr) == 0 && setgid(12345) == 0 && setuid(12345) == 0;
  linux_shell::remember_starting_user();
  return became;
}

/// A copy of new.ini (kNew) onto `target`, in a child that calls `prepare` first where set.
struct CopyRow {
  const char* target;
  bool (*prepare)();
  int needs;            // the test's condition that the row needs (0: none)
  const char* report;   // standard error, whole
  const char* content;  // the target's, afterwards
};

/// A condition that rows may need: whether it holds here, and why not.
struct Need {
  bool met;
  std::string why;
};

class DurableCopy : public ShellTest {
 protected:
  void TearDown() override {
    unsetenv("XDG_STATE_HOME");
    ShellTest::TearDown();
  }

  /// new.ini, a scratch folder a player may enter, and a state folder for the player's copies;
  /// whether rows may run as the player (only root may, and hand the folder to the player).
  bool PlayersStateFolder() {
    EXPECT_EQ(chmod(".", 0755), 0);
    WriteFile("new.ini", kNew);
    fs::create_directories("state");
    setenv("XDG_STATE_HOME", fs::absolute("state").c_str(), 1);
    return MayRunAsAnotherUser() && HandTo("state", 12345, 12345);
  }

  /// Runs each row whose need holds (`needs[row.needs]`), then `after` for its target; skips
  /// the others with the reason. What a row's need says was not made is not reported again.
  Rows RunRows(std::initializer_list<CopyRow> table, const std::vector<Need>& needs,
               const std::function<void(const char*)>& after = nullptr) {
    TakeUnmadeSetup();
    Rows rows;
    for (const CopyRow& row : table) {
      if (!needs[row.needs].met) {
        rows.Skipped(row.target, needs[row.needs].why);
        continue;
      }
      rows.Ran(row.target);
      const Output output =
          RunLine((std::string("copy new.ini ") + row.target).c_str(), row.prepare);
      EXPECT_EQ(output.err, row.report) << row.target;
      EXPECT_EQ(ReadFile(row.target), row.content) << row.target;
      if (after) {
        after(row.target);
      }
    }
    return rows;
  }
};

/// An access ACL (user::rw-, user:1234:r--, group::---, mask::r--, other::---) as the kernel
/// keeps it: a file of mode 0640 whose group may read nothing.
inline std::string DenyingAcl() {
  const unsigned entries[][3] = {
      {1, 6, ~0u}, {2, 4, 1234}, {4, 0, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
  std::string acl("\x02\0\0\0", 4);
  for (const auto& entry : entries) {
    const std::uint16_t tag_and_perm[2] = {static_cast<std::uint16_t>(entry[0]),
                                           static_cast<std::uint16_t>(entry[1])};
    acl.append(reinterpret_cast<const char*>(tag_and_perm), 4);
    acl.append(reinterpret_cast<const char*>(&entry[2]), 4);
  }
  return acl;
}

}  // namespace support
