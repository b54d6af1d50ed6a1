// Names in command lines looked up as Windows looks them up.
#include <strings.h>

#include <gtest/gtest.h>

#include "scratch_shell.hpp"

namespace {

using namespace scratch;

class WindowsNames : public ShellTest {};

TEST_F(WindowsNames, NamesMatchIgnoringCaseWithTheExactNameFirst) {
  fs::create_directories("system");
  fs::create_directories("skulvane_backups");
  write_file("system/skaux.ini", "live");
  write_file("skulvane_backups/backup_skaux.ini", "old");
  EXPECT_EQ(run("copy System\\SkAux.ini Skulvane_Backups\\BACKUP_SkAux.ini").err, "");
  EXPECT_EQ(read_file("skulvane_backups/backup_skaux.ini"), "live");
  EXPECT_EQ(tree().size(), 4u);

  // Among inexact matches the first in the folder's own order, as Wine and the game take it.
  for (const char* name : {"SKAUX.INI", "SkAUX.ini", "sKaUx.InI"}) {
    write_file(fs::path("system") / name, name);
  }
  std::string first;
  for (const auto& entry : fs::directory_iterator("system")) {  // readdir's order
    if (first.empty() && strcasecmp(entry.path().filename().c_str(), "skaux.ini") == 0) {
      first = entry.path().filename();
    }
  }
  run("copy System\\SkAux.ini out.ini");
  EXPECT_EQ(read_file("out.ini"), first == "skaux.ini" ? "live" : first);
  // An exact match wins.
  write_file("system/SkAux.ini", "exact");
  run("copy System\\SkAux.ini out.ini");
  EXPECT_EQ(read_file("out.ini"), "exact");
}

}  // namespace
