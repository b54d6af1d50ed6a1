// What a failure line says to do, where its reason alone does not.
//
// A failed md or copy is reported as one line, "Cannot copy NAME: REASON" (shell/linux.cpp).
// Where REASON is only the system's word for an error ("No such file or directory", "Permission
// denied", "No space left on device"), advice_for() gives the rest of that line: "; " and what to
// do, worded for a player: the folder the program works in where it was started in the wrong one,
// the owner of what is in the way and whether sudo helps, the command that makes a file or folder
// writable (chmod, chattr, chown), what a full disk left as it was. Each advice is a fixed text of
// one constant table, with names filled in. A reason that already says what to do (the refusals
// of the program's own, a line that reports damage) gets nothing added.
// Finding the cause only looks: the names are resolved again by path_walk.hpp, and nothing on
// disk changes. Where the cause cannot be told, the advice is empty and the line stays as it was.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "shell/linux/result.hpp"

namespace linux_shell {

/// What follows the reason of the failure `result` of an md (`folder`) or a copy of the operand
/// `written` (as the command line writes it): "; " and what to do, or the empty text.
std::string advice_for(std::string_view written, bool folder, const Result& result);

/// Notes that this run, started as root, now acts as the owner of the folder it was started in
/// (folder_owner.hpp): the advice of a refusal then says so.
void note_acting_as_folder_owner();

/// What a run as root in a folder of `uid`'s, who has no account here, says to do instead.
std::string owner_unknown_advice(uid_t uid);

}  // namespace linux_shell
