// Names in command lines looked up as Windows looks them up.
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

  // An exact match wins; among inexact ones the first in byte order.
  write_file("system/SkAux.ini", "exact");
  run("copy System\\SkAux.ini out.ini");
  EXPECT_EQ(read_file("out.ini"), "exact");
  write_file("system/SKAUX.INI", "upper");
  run("copy System\\Skaux.ini out.ini");
  EXPECT_EQ(read_file("out.ini"), "upper");
}

}  // namespace
