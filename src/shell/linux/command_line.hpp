// A fixed command line taken apart, as the Linux build reads the lines it carries out itself.
// Pure: nothing here touches a file, the screen or the keyboard.
#pragma once

#include <string_view>

namespace linux_shell {

/// What a command line asks for.
enum class CommandKind { clear_screen, pause, make_folder, copy, unknown };

/// A command line taken apart, without anything carried out. The views point into the line.
struct Command {
  CommandKind kind;
  std::string_view folder;  ///< the folder of "md"; empty otherwise
  std::string_view source;  ///< the source of "copy"; empty otherwise
  std::string_view target;  ///< the target of "copy"; empty otherwise
};

/// Splits `line` at runs of blanks and tabs and recognises "cls", "pause", "md NAME" and
/// "copy SRC DST", the command word in any case. Any other word, a wrong number of arguments,
/// or a line holding a control character other than tab, DEL or a double quote, wherever it
/// stands, gives CommandKind::unknown. Touches nothing.
Command parse_command_line(std::string_view line);

}  // namespace linux_shell
