// Folders made, and files replaced only by complete copies that are on disk.
//
// The protocol of a copy of SOURCE onto TARGET (a symbolic link is followed to the file it
// ends in, which is replaced; the links stay; a link to nothing is refused, as cp refuses it):
//   1. Make a temporary file beside TARGET (temporary_file.hpp).
//   2. Copy SOURCE's bytes into it; give it its permission bits (a TARGET that existed keeps its
//      own, a new file gets SOURCE's less the umask), SOURCE's modification time, and the owner
//      and group of a TARGET that existed; flush it. Bits, time and owner are best effort, as
//      for cp: a file system that refuses them (FAT, or a file of another user's) fails no copy.
//   3. Rename it over TARGET; flush the folder.
// Failures: on any failure in 1 to 3 the temporary file is removed and TARGET is left exactly as
// it was; the caller reports the reason.
// A signal, a kill (SIGKILL) or a power cut: TARGET is whole, old or new, never a mix; the
// rename is durable once the folder's flush has returned. What may remain of the temporary
// file, and who removes it, is in temporary_file.hpp.
// In place: where TARGET exists and its folder takes no new file, or lets no new file take
// TARGET's place (a folder of another user's around a file that may be written, or a sticky
// folder holding another user's file), the copy writes into TARGET itself, as cp does: its
// bytes, then its new length, then a flush. This is the one copy that is not all or nothing:
// one that fails or is killed part-way leaves TARGET damaged.
// Hard links: a replaced TARGET is a new file; other links to the old one keep the old bytes.
#pragma once

#include <string>

#include "console/posix/reason.hpp"

namespace console {

/// What became of "md".
enum class FolderResult { created, existed, failed };

/// Creates the folder `path` (made durable in its parent before it returns); a folder that
/// exists is left as it was. On `failed`, errno holds the reason (EEXIST: a file is in the way).
FolderResult make_folder(const std::string& path);

/// What became of a copy: `reason` says why it failed, with `source_failed` true when the
/// source was at fault, false when the target was.
struct CopyResult {
  Reason reason;
  bool source_failed;
};

/// Replaces `target` with a copy of the regular file `source`, by the protocol above. Refuses,
/// changing nothing, a source that is not a regular file, a target that is a folder or not a
/// regular file, a target in a folder that does not exist, a link to nothing, and a target that
/// is the source. A FIFO in the source's place does not hang it.
CopyResult copy_file(const std::string& source, const std::string& target);

}  // namespace console
