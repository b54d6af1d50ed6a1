// How the POSIX build reads the command lines it carries out itself.
#pragma once

#include <string_view>

namespace console {

/// What a command line asks for.
enum class CommandKind { clear_screen, pause, make_folder, copy, unknown };

/// A command line taken apart, without anything carried out. The views point into the line.
struct Command {
  CommandKind kind;
  std::string_view first;   ///< the folder of "md", the source of "copy"; empty otherwise
  std::string_view second;  ///< the target of "copy"; empty otherwise
};

/// Splits `line` at runs of blanks and tabs and recognises "cls", "pause", "md NAME" and
/// "copy SRC DST", the command word in any case. Any other word, a wrong number of arguments,
/// or a line holding a control character or a quote gives CommandKind::unknown. Touches nothing.
Command parse_command_line(std::string_view line);

}  // namespace console
