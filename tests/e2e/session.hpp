// Whole sessions of the built program, as the session tests of both platforms run them: a
// scratch game folder laid out as a case says, the case's input, its transcript with each
// command line shown as the platform shows it, and the files after the run. The cases are data
// (tests/transcripts, support/transcripts.hpp); each platform's test file defines Show() and
// RunSession().
#pragma once

#include <array>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/scratch.hpp"
#include "support/transcripts.hpp"

namespace session {

namespace fs = std::filesystem;
using support::SessionCase;
using support::Tree;

using support::kNames;

/// What each of the three settings files holds, in the order of kNames.
using Contents = std::array<const char*, 3>;

// Settings as the game left them, as an older backup holds them, and after the player edited
// them; a case's "after:" names them live, old and edited.
inline const Contents kLive = {"[Video]\r\nResX=1920\r\n", "[Keys]\r\nFire=Mouse1\r\n",
                               "[Loadout]\r\nSlot1=Rifle\r\n"};
inline const Contents kOld = {"[Video]\r\nResX=640\r\n", "[Keys]\r\nFire=Space\r\n",
                              "[Loadout]\r\nSlot1=Pistol\r\n"};
inline const Contents kEdited = {"ResX=800\r\n", "Fire=Enter\r\n", "Slot1=Knife\r\n"};

/// The content that `word` of a case's "after:" names for file `i`; nullptr for "-".
inline const char* Content(const std::string& word, int i) {
  return word == "live"     ? kLive[i]
         : word == "old"    ? kOld[i]
         : word == "edited" ? kEdited[i]
                            : nullptr;
}

/// The game folder that `c` leaves.
inline Tree After(const SessionCase& c) {
  Tree tree = {{"System/", ""}};
  if (c.folder_after) {
    tree["Skulvane_Backups/"] = "";
  }
  for (int i = 0; i < 3; ++i) {
    if (const char* live = Content(c.live_after[i], i)) {
      tree[std::string("System/") + kNames[i]] = live;
    }
    if (const char* backup = Content(c.backup_after[i], i)) {
      tree[std::string("Skulvane_Backups/BACKUP_") + kNames[i]] = backup;
    }
  }
  return tree;
}

/// How the platform shows a command line that ran, with what came of it ("made", "existed",
/// "done", "no source"; nothing for cls and pause).
std::string Show(const std::string& line, const std::string& outcome);

/// What the platform types before a case for both platforms: the key for the pause at start-up.
extern const std::string kFirstKey;

/// `c`'s transcript as the platform shows it.
inline std::string Expected(const SessionCase& c) {
  return support::Expand(c.transcript, Show);
}

/// `c`'s input as the platform gets it.
inline std::string Input(const SessionCase& c) {
  return (c.platforms == "both" ? kFirstKey : "") + c.input;
}

/// What one run showed, as the platform's transcript, and what went wrong besides ("" if
/// nothing: it ended in time, with status 0, its line ends as its console has them).
struct Shown {
  std::string transcript;
  std::string trouble;
};

/// Runs the program in `game` with `input` (no standard input at all where `closed_input`).
Shown RunSession(const fs::path& game, const std::string& input, bool closed_input,
                 const std::vector<std::string>& args);

class Session : public support::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    WriteLive(kLive);
  }

  void WriteLive(const Contents& contents, const fs::path& folder = "System",
                 const std::array<const char*, 3>& names = kNames) {
    for (int i = 0; i < 3; ++i) {
      support::WriteFile(game_ / folder / names[i], contents[i]);
    }
  }

  /// Lays out the game folder as `before` says.
  void Prepare(const std::string& before) {
    if (before == "old-backup") {
      WriteLive(kOld, "Skulvane_Backups",
                {"BACKUP_SkAux.ini", "BACKUP_SkulvaneUser.ini", "BACKUP_SkLoadouts.ini"});
    } else if (before == "no-keybinds") {
      fs::remove(game_ / "System" / kNames[1]);
    }
  }

  /// Runs the session of case `c` (with `args`, or no standard input where `closed_input`) and
  /// checks its transcript.
  void ExpectSession(const SessionCase& c, bool closed_input = false,
                     const std::vector<std::string>& args = {}) {
    const Shown run = RunSession(game_, Input(c), closed_input, args);
    EXPECT_EQ(run.transcript, Expected(c));
    EXPECT_EQ(run.trouble, "");
  }

  Tree Disk() const {
    return support::FolderTree(game_);
  }
};

class Dialogue : public Session, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(Dialogue, TranscriptAndFiles) {
  const SessionCase& c = GetParam();
  Prepare(c.before);
  ExpectSession(c);
  EXPECT_EQ(Disk(), After(c));
}

TEST_F(Session, RestoreBringsBackWhatWasBackedUp) {
  const SessionCase& backup = support::SessionCaseNamed("BackupAllFresh");
  ExpectSession(backup);
  WriteLive(kEdited);
  ExpectSession(support::SessionCaseNamed("RestoreEachAllYes"));
  EXPECT_EQ(Disk(), After(backup));
}

}  // namespace session
