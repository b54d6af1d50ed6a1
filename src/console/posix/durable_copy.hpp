// Folders made, and files replaced only by complete copies that are on disk.
//
// The protocol of a copy of SOURCE onto TARGET (a symbolic link is followed to the file it
// ends in, which is replaced; the links stay):
//   1. Remove the stale temporary files in TARGET's folder: entries named ".sk-backup-XXXXXX"
//      whose lock can be taken. A copy holds the lock of its temporary file as long as the file
//      exists under that name, so one that a running copy is still writing is never removed.
//   2. Create a new temporary file ".sk-backup-XXXXXX" in TARGET's folder and lock it. (Should a
//      concurrent copy remove it as stale between the two, a new one is created.)
//   3. Copy SOURCE's bytes into it; give it SOURCE's permission bits and modification time and
//      an owner (below); fsync it.
//   4. Rename it over TARGET, still holding its lock; close it; fsync the folder.
// Failures: on any failure in 2 to 4 the temporary file is removed and TARGET is left exactly as
// it was; the caller reports the reason.
// A signal that ends the program during 2 to 4 removes the temporary file first
// (fatal_signals.hpp); TARGET is the old file or, once the rename is done, the new one.
// A kill (SIGKILL) or a power cut: TARGET is whole, old or new, never a mix; the rename is
// durable once the folder's fsync has returned. A temporary file may remain, unlocked; the next
// copy into that folder removes it (step 1), whichever run makes it.
// Owner: a TARGET that existed keeps its owner and group where the system allows it (a restore
// under sudo leaves the player's file the player's). A new file made by a run as root, and a
// folder that md makes, get the owner and group of the folder they are made in, so that sudo
// leaves nothing in the player's folders that the player cannot change.
#pragma once

#include <string>

namespace console {

/// What became of "md".
enum class FolderResult { created, existed, failed };

/// Creates the folder `path` (made durable in its parent before it returns); a folder that
/// exists is left as it was. On `failed`, errno holds the reason (EEXIST: a file is in the way).
FolderResult make_folder(const std::string& path);

/// What became of a copy: `reason` is nullptr on success, else the reason it failed, with
/// `source_failed` true when the source was at fault, false when the target was.
struct CopyResult {
  const char* reason;
  bool source_failed;
};

/// Replaces `target` with a copy of the regular file `source`, by the protocol above. Refuses,
/// changing nothing, a source that is not a regular file, a target that is a folder or not a
/// regular file, a target in a folder that does not exist, and a target that is the source.
/// A FIFO in the source's place does not hang it.
CopyResult copy_file(const std::string& source, const std::string& target);

}  // namespace console
