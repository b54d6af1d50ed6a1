// Names in command lines looked up as Windows looks them up.
#include <strings.h>

#include <gtest/gtest.h>

#include "support/scratch_shell.hpp"

namespace {

using namespace support;

class WindowsNames : public ShellTest {};

TEST_F(WindowsNames, NamesMatchIgnoringCaseWithTheExactNameFirst) {
  fs::create_directories("system");
  fs::create_directories("skulvane_backups");
  WriteFile("system/skaux.ini", "live");
  WriteFile("skulvane_backups/backup_skaux.ini", "old");
  EXPECT_EQ(RunLine("copy System\\SkAux.ini Skulvane_Backups\\BACKUP_SkAux.ini").err, "");
  EXPECT_EQ(ReadFile("skulvane_backups/backup_skaux.ini"), "live");
  // The copy went to the backup of another case: no file was made beside it.
  EXPECT_EQ(Names(), (std::set<std::string>{"system/", "system/skaux.ini", "skulvane_backups/",
                                            "skulvane_backups/backup_skaux.ini"}));

  // Among inexact matches the first in the folder's own order, as Wine and the game take it.
  for (const char* name : {"SKAUX.INI", "SkAUX.ini", "sKaUx.InI"}) {
    WriteFile(fs::path("system") / name, name);
  }
  std::string first;
  for (const auto& entry : fs::directory_iterator("system")) {  // readdir's order
    if (first.empty() && strcasecmp(entry.path().filename().c_str(), "skaux.ini") == 0) {
      first = entry.path().filename();
    }
  }
  RunLine("copy System\\SkAux.ini out.ini");
  EXPECT_EQ(ReadFile("out.ini"), first == "skaux.ini" ? "live" : first);
  // An exact match wins.
  WriteFile("system/SkAux.ini", "exact");
  RunLine("copy System\\SkAux.ini out.ini");
  EXPECT_EQ(ReadFile("out.ini"), "exact");
}

}  // namespace
