// The user database as sudo reads it for a run as root: an owner's account and groups from
// passwd and group files, lines glibc skips or reads oddly, private groups, and the most groups a
// process can have.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/linux/user_database.hpp"
#include "support/scratch_shell.hpp"

namespace {

using namespace std::string_literals;
using namespace support;

class UserDatabase : public ShellTest {};

TEST_F(UserDatabase, ARunAsRootTakesTheOwnersGroupsFromTheFilesAsSudoDoes) {
  WriteFile("passwd",
            "# comment\n+nis\nroot:x:0:0::/root:/bin/sh\nalice:x:1001:1001::/h:/bin/sh\n"
            "bob:x:1002:100::/h:/bin/sh\nbroken:x:10x3:1::/h:/bin/sh\n");
  WriteFile("group",
            "alice:x:1001:\ngames:x:60:bob,alice\nusers:x:100:alice\n"
            "malice:x:70:malice,alicex\nplayers:x:4243:alice,bob\n"
            // Lines that glibc reads as naming other members, or as no entry at all.
            "sk-h1:x:5101:alice:\nsk-h2:x:5102:alice:x:y\n  #x:x:5103:alice\n"
            "sk-h4:x:5104:bob\0,alice\n:x:5105:alice\n"s);
  struct Case {
    uid_t uid;
    bool found;
    std::vector<gid_t> groups;  // primary first, each once
  };
  for (const Case& c :
       {Case{1001, true, {1001, 60, 100, 4243}}, Case{1002, true, {100, 60, 4243, 5104}},
        Case{1003, false, {}}, Case{1004, false, {}}}) {
    linux_shell::Account account;
    EXPECT_EQ(linux_shell::find_account(c.uid, account, "passwd"), c.found) << c.uid;
    if (c.found) {
      EXPECT_EQ(linux_shell::groups_of(account, "group"), c.groups) << c.uid;
    }
  }
  // A private group: the user's primary group, named as the user, no one else's.
  WriteFile("group", "alice:x:1001:\nusers:x:100:\nbob:x:1002:alice\n");
  EXPECT_TRUE(linux_shell::is_private_group(1001, 1001, "passwd", "group"));
  EXPECT_FALSE(linux_shell::is_private_group(1002, 100, "passwd", "group"));  // named otherwise
  WriteFile("passwd",
            "alice:x:1001:1001::/h:/bin/sh\nbob:x:1002:1002::/h:/bin/sh\n"
            "carol:x:1003:1002::/h:/bin/sh\n");
  EXPECT_FALSE(linux_shell::is_private_group(1002, 1002, "passwd", "group"));  // a member, carol's
  std::string many;  // more groups than a process can have: the first ones, as sudo takes them
  for (int id = 100000; id < 170000; ++id) {
    many += "g:x:" + std::to_string(id) + ":alice\n";
  }
  WriteFile("group", many);
  EXPECT_EQ(linux_shell::groups_of({"alice", 1001}, "group").size(), linux_shell::kMostGroups);
}

}  // namespace
