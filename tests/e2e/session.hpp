// Whole sessions of the built program, as the session tests of both platforms run them: a
// scratch game folder, its layout before the run, the transcript expected and the files after
// it. Each platform shows what the interpreter does (cls, pause, md, copy) its own way: its test
// file defines kShows and RunSession(), and the transcripts are built here from them.
#pragma once

#include <array>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "dialogue_texts.hpp"
#include "support/files.hpp"
#include "support/scratch.hpp"

namespace session {

namespace fs = std::filesystem;
using support::Tree;
using namespace texts;

/// What each of the three settings files holds, in the order of kNames; nullptr: no such file.
using Contents = std::array<const char*, 3>;

// Settings as the game left them, as an older backup holds them, and after the player edited them.
inline const Contents kLive = {"[Video]\r\nResX=1920\r\n", "[Keys]\r\nFire=Mouse1\r\n",
                               "[Loadout]\r\nSlot1=Rifle\r\n"};
inline const Contents kOld = {"[Video]\r\nResX=640\r\n", "[Keys]\r\nFire=Space\r\n",
                              "[Loadout]\r\nSlot1=Pistol\r\n"};
inline const Contents kEdited = {"ResX=800\r\n", "Fire=Enter\r\n", "Slot1=Knife\r\n"};
inline const Contents kNone = {};

/// A game folder: System with the `live` files, and Skulvane_Backups with the `backup` copies
/// where `folder`.
inline Tree Layout(const Contents& live, bool folder, const Contents& backup) {
  Tree tree = {{"System/", ""}};
  if (folder) {
    tree["Skulvane_Backups/"] = "";
  }
  for (int i = 0; i < 3; ++i) {
    if (live[i] != nullptr) {
      tree[std::string("System/") + kNames[i]] = live[i];
    }
    if (backup[i] != nullptr) {
      tree[std::string("Skulvane_Backups/BACKUP_") + kNames[i]] = backup[i];
    }
  }
  return tree;
}

/// What became of "md", and of each file's copy: not asked for (answered no), done, or its
/// source missing.
enum class Md { kMade, kExisted };
enum class Copy { kNo, kDone, kNoSource };
using PerFile = std::array<Copy, 3>;  // SkAux.ini, SkulvaneUser.ini, SkLoadouts.ini
inline constexpr PerFile kAllDone = {Copy::kDone, Copy::kDone, Copy::kDone};
inline constexpr PerFile kNothing = {Copy::kNo, Copy::kNo, Copy::kNo};

/// How a platform's transcript shows the interpreter's work.
struct Shows {
  std::string first_key;  ///< typed before a shared case's input, for the pause at start-up
  std::string cls;
  std::string pause;
  std::string (*md)(Md made);
  std::string (*copy)(bool restore, int file, Copy copy);  ///< never asked for kNo
};
extern const Shows kShows;

/// The disclaimer, one menu cycle per body, and the closing cycle (X or end of input).
inline std::string Transcript(std::initializer_list<std::string> bodies) {
  std::string out = kShows.cls + kDisclaimer + kShows.pause;
  for (const std::string& body : bodies) {
    out += kShows.cls + kMenu + body + kShows.pause;
  }
  return out + kShows.cls + kMenu + kShows.pause;
}

/// An operation: its opening, then each file's question where it asks one, its message and its
/// copy where it copies, then its closing.
inline std::string Operation(std::string out, const std::array<std::string, 3>* ask,
                             const std::array<std::string, 3>& message, bool restore,
                             const PerFile& copies, const std::string& done) {
  for (int i = 0; i < 3; ++i) {
    out += ask != nullptr ? (*ask)[i] : "";
    if (copies[i] != Copy::kNo) {
      out += message[i] + kShows.copy(restore, i, copies[i]);
    }
  }
  return out + done;
}

inline std::string BackupAll(Md md, const PerFile& copies = kAllDone) {
  return Operation(kShows.cls + kMakeFolder + kShows.md(md), nullptr, kBackupAllMsg, false, copies,
                   kBackupDone);
}
inline std::string BackupEach(Md md, const PerFile& copies) {
  return Operation(kShows.cls + kMakeFolder + kShows.md(md), &kBackupAsk, kBackupEachMsg, false,
                   copies, kBackupDone);
}
inline std::string RestoreAll(const PerFile& copies = kAllDone) {
  return Operation(kShows.cls + kRestoreAllAsk, nullptr, kRestoreAllMsg, true, copies,
                   kRestoreAllDone);
}
inline std::string RestoreAllNo() {
  return kShows.cls + kRestoreAllAsk;
}
inline std::string RestoreEach(const PerFile& copies) {
  return Operation(kShows.cls, &kRestoreAsk, kRestoreEachMsg, true, copies, kRestoreEachDone);
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

/// How a game folder that holds all three live files differs before the run.
enum class Before { kFresh, kOldBackup, kNoKeybinds };

struct Case {
  const char* name;
  Before before;
  std::string input;  // on Windows its first byte goes to the pause at start-up
  std::string transcript;
  Tree disk;
};

inline void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class Session : public support::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    game_ = root_ / "game";
    WriteLive(kLive);
  }

  void WriteLive(const Contents& contents, const fs::path& folder = "System",
                 const std::array<const char*, 3>& names = kNames) {
    for (int i = 0; i < 3; ++i) {
      support::WriteFile(game_ / folder / names[i], contents[i]);
    }
  }

  /// Lays out the game folder for `before`.
  void Prepare(Before before) {
    if (before == Before::kOldBackup) {
      WriteLive(kOld, "Skulvane_Backups",
                {"BACKUP_SkAux.ini", "BACKUP_SkulvaneUser.ini", "BACKUP_SkLoadouts.ini"});
    } else if (before == Before::kNoKeybinds) {
      fs::remove(game_ / "System" / kNames[1]);
    }
  }

  void ExpectSession(const std::string& input, const std::string& transcript,
                     bool closed_input = false, const std::vector<std::string>& args = {}) {
    const Shown run = RunSession(game_, input, closed_input, args);
    EXPECT_EQ(run.transcript, transcript);
    EXPECT_EQ(run.trouble, "");
  }

  Tree Disk() const {
    return support::FolderTree(game_);
  }

  fs::path game_;
};

class Dialogue : public Session, public ::testing::WithParamInterface<Case> {};

TEST_P(Dialogue, TranscriptAndFiles) {
  const Case& c = GetParam();
  Prepare(c.before);
  ExpectSession(c.input, c.transcript);
  EXPECT_EQ(Disk(), c.disk);
}

inline const Tree kUntouched = Layout(kLive, false, kNone);
inline const Tree kUntouchedOld = Layout(kLive, true, kOld);
inline const Tree kBackedUp = Layout(kLive, true, kLive);

inline std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// The sessions that run alike on both platforms, after the platform's first key. Made when the
// tests are listed, once kShows is there.
constexpr Copy kYes = Copy::kDone;
constexpr Copy kNo = Copy::kNo;
constexpr Copy kNoSource = Copy::kNoSource;

inline std::vector<Case> SharedCases() {
  return {
      {"BackupAllOverOldBackup", Before::kOldBackup, "1 x", Transcript({BackupAll(Md::kExisted)}),
       kBackedUp},
      {"BackupAllWithMissingLiveFile", Before::kNoKeybinds, "1\nx\n",
       Transcript({BackupAll(Md::kMade, {kYes, kNoSource, kYes})}),
       Layout({kLive[0], nullptr, kLive[2]}, true, {kLive[0], nullptr, kLive[2]})},
      {"BackupEachMixedAnswers", Before::kFresh, "2\ny\nyes\nY\nx\n",
       Transcript({BackupEach(Md::kMade, {kYes, kNo, kYes})}),
       Layout(kLive, true, {kLive[0], nullptr, kLive[2]})},
      {"BackupEachAllNoTypedAhead", Before::kFresh, "2 n n n x\n",
       Transcript({BackupEach(Md::kMade, kNothing)}), Layout(kLive, true, kNone)},
      {"BackupEachOverOldBackup", Before::kOldBackup, "2 n y n x\n",
       Transcript({BackupEach(Md::kExisted, {kNo, kYes, kNo})}),
       Layout(kLive, true, {kOld[0], kLive[1], kOld[2]})},
      {"BackupEachEndOfInputInQuestions", Before::kFresh, "2\ny\n",
       Transcript({BackupEach(Md::kMade, {kYes, kNo, kNo})}),
       Layout(kLive, true, {kLive[0], nullptr, nullptr})},

      {"RestoreAll", Before::kOldBackup, "3\ny\nx\n", Transcript({RestoreAll()}),
       Layout(kOld, true, kOld)},
      {"RestoreAllAnsweredNo", Before::kOldBackup, "3\nx\n3 n\n3\nyes\n3\nY.\nx\n",
       Transcript({RestoreAllNo(), RestoreAllNo(), RestoreAllNo(), RestoreAllNo()}), kUntouchedOld},
      {"RestoreAllEndOfInputInQuestion", Before::kOldBackup, "3\n", Transcript({RestoreAllNo()}),
       kUntouchedOld},
      {"RestoreAllBeforeAnyBackup", Before::kFresh, "3\ny\nx\n",
       Transcript({RestoreAll({kNoSource, kNoSource, kNoSource})}), kUntouched},
      {"RestoreEachTypedAhead", Before::kOldBackup, "4 y x Y\nx\n",
       Transcript({RestoreEach({kYes, kNo, kYes})}),
       Layout({kOld[0], kLive[1], kOld[2]}, true, kOld)},
      {"RestoreEachBeforeAnyBackup", Before::kFresh, "4\nn\ny\nn\nx\n",
       Transcript({RestoreEach({kNo, kNoSource, kNo})}), kUntouched},
      {"RestoreEachEndOfInputInQuestions", Before::kOldBackup, "4",
       Transcript({RestoreEach(kNothing)}), kUntouchedOld},
      {"SeveralOperationsInOneRun", Before::kFresh, "1\n3\nn\n4 n n y\nx\n",
       Transcript({BackupAll(Md::kMade), RestoreAllNo(), RestoreEach({kNo, kNo, kYes})}),
       kBackedUp},
  };
}

class SharedDialogue : public Dialogue {};

TEST_P(SharedDialogue, TranscriptAndFiles) {
  const Case& c = GetParam();
  Prepare(c.before);
  ExpectSession(kShows.first_key + c.input, c.transcript);
  EXPECT_EQ(Disk(), c.disk);
}

INSTANTIATE_TEST_SUITE_P(Shared, SharedDialogue, ::testing::ValuesIn(SharedCases()), CaseName);

}  // namespace session
