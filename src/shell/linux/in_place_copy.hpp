// The one copy that writes into its target: where the folder lets no new file take the
// target's place.
//
// When: decided before anything is made or linked in the folder, and only where the folder
// says so: the user may not write or enter it (EACCES), or it is sticky and neither it nor the
// target is the user's, or it is append-only (there a temporary could be named but never
// renamed or removed). This is how a player restores a file she may write in a shared install
// whose folder is root's, as cp does.
// What it keeps: it refuses a target with more than one link (the other names would share the
// damage) and a file over 64 MiB on either side; it reads the whole source, and the target's
// old bytes, into memory before it touches the target (memory that cannot be had refuses the
// copy, changing nothing). Before the first write, the old bytes are on disk in a flushed
// recovery copy (recovery_copy.hpp); where none can be made, nothing is written. It reserves the
// new length where the file system allows (a hint only), then writes the bytes and the length.
// From the first write until the bytes and the length are whole again, old or new, every signal
// but SIGKILL and SIGSTOP is held: Ctrl-C, SIGTERM, a closed terminal, Ctrl-Z act once the file
// is whole. Then come the source's time and the flush, and the recovery copy is removed.
// On a failure of the bytes or the length, it writes back the old bytes only where they were
// overwritten with others, and the old length; then it reads the file back. A file that holds
// its old bytes (or the new ones) is reported as the failure alone, so named; only a file that
// holds neither is reported damaged, naming the recovery copy to put back, which then stays.
// A kill (SIGKILL) or a power cut part-way can still leave the target damaged: this copy is
// not all or nothing, but the recovery copy then holds the old bytes.
#pragma once

#include <sys/stat.h>

#include <string_view>

#include "shell/linux/path_walk.hpp"
#include "shell/linux/result.hpp"

namespace linux_shell {

/// Whether a copy onto `target` (which exists) must be written in place, by the rule above, in
/// `in_place`. Fails, with the folder's reason, where the folder cannot be asked.
Result must_write_in_place(const Place& target, bool& in_place);

/// Writes the source `in` (whose status is `source`, written `source_written` on the command
/// line) into `target` in place.
Result write_in_place(int in, const struct stat& source, std::string_view source_written,
                      const Place& target);

}  // namespace linux_shell
