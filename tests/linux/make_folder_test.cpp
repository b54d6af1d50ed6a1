// md: a folder made, or what is in its way told, in a scratch folder.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/scratch_shell.hpp"

namespace {

using namespace support;

class MakeFolder : public ShellTest {};

TEST_F(MakeFolder, CreatesOrReportsWhatIsInTheWay) {
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "");
  EXPECT_TRUE(fs::is_directory("Skulvane_Backups"));
  WriteFile("Skulvane_Backups/keep", "x");
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "Folder Skulvane_Backups already exists.\n");
  EXPECT_EQ(RunLine("md SKULVANE_backups").err, "Folder SKULVANE_backups already exists.\n");
  EXPECT_EQ(Names(), (std::set<std::string>{"Skulvane_Backups/", "Skulvane_Backups/keep"}));
}

}  // namespace
