// Files replaced only by complete copies that are on disk.
//
// Both operands are resolved by path_walk.hpp, by handles, by the rule stated there: a copy
// never goes where the user it runs as could not go safely on their own.
//
// The protocol of a copy of SOURCE onto TARGET (a link is followed to the file it ends in,
// which is replaced; the links stay; a link to nothing is refused, as cp refuses it):
//   1. Make a temporary file in TARGET's folder (temporary_file.hpp).
//   2. Copy SOURCE's bytes into it, holes kept as holes; on FUSE, a settings file (up to 512 KiB)
//      through memory, read a second time. Where SOURCE's size, modification time or change time
//      (statx, asked of a FUSE server itself) differ after the reading, or the two reads differ,
//      the bytes are not a state SOURCE held: steps 1 and 2 are made again, four times within
//      1.3 s, and then the copy is refused as changing ("it changed while it was copied"). A SOURCE
//      that ends before its size is never padded. The copy's writeback is started
//      (sync_file_range), so that the disk works while the rest is given. Then, in this order: the
//      owner and group of a TARGET that existed, where that owner may read SOURCE; the permission
//      bits (a TARGET that existed keeps its own, a new file gets SOURCE's less the umask); exactly
//      TARGET's access ACL (entries that the folder's default ACL gave the new file are removed)
//      and its user.* attributes (security.* and trusted.* are never copied); SOURCE's modification
//      time; a flush. Owner, bits and time are best effort, as for cp (FAT, or a file of another
//      user's, refuses them). No call is made that changes nothing (a length already right, an ACL
//      already the target's): FUSE drives refuse some. An ACL call that fails fails the copy only
//      where the copy, read back, is not as the target and may grant more than it did; a user.*
//      attribute that cannot be set does not. Then the copy's bits and ACL are narrowed so that it
//      lets no one read it whom SOURCE does not let (file_readers.hpp): a copy never gives its
//      bytes away.
//   3. Rename it over TARGET; flush the folder (where the folder cannot be read, the whole file
//      system: syncfs). "1 file copied." is reported only once that flush returned.
// Failures: on any failure in 1 and 2, or of the rename, the temporary file is removed and
// TARGET is left exactly as it was. A flush of the folder that fails is reported as a failure,
// though TARGET is new: it may not survive a power cut. Errors of close() after that flush are no
// failures.
// A signal, a kill (SIGKILL) or a power cut: TARGET is whole, old or new, never a mix. What may
// remain of the temporary file, and who removes it, is in temporary_file.hpp.
// In place: where TARGET exists and its folder says that no new file may take its place, and
// only then, the copy writes into TARGET itself (in_place_copy.hpp says when, and what it
// keeps). It is refused where TARGET belongs to another user than the one the program runs as
// and root, or lets someone read it whom SOURCE does not: its bits cannot be narrowed. Any
// other failure to make the temporary file (a full FAT volume, a read-only file system) fails
// the copy and leaves TARGET as it was.
// Refused, changing nothing: a SOURCE that is not a regular file (a FIFO does not hang it), or
// that holds more than its size (the kernel's files); a TARGET that is a folder or not a
// regular file, in a folder that does not exist, or that is SOURCE itself.
// Hard links: a replaced TARGET is a new file; other links to the old one keep the old bytes.
#pragma once

#include <string_view>

#include "shell/linux/result.hpp"

namespace linux_shell {

/// Replaces `target` with a copy of the regular file `source` (both as a command line writes
/// them), by the protocol above. The result's side says which operand a failure belongs to.
Result copy_file(std::string_view source, std::string_view target);

}  // namespace linux_shell
