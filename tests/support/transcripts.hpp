// Whole sessions of the program kept as data: one file per case in tests/transcripts, built
// into the tests (transcript_files.cpp, generated), shared by the session tests of both
// platforms and by the dialogue's unit tests. A file holds:
//
//   platforms: both          both, linux or windows: where the case runs
//   before: old-backup       the game folder: fresh, old-backup or no-keybinds
//   input: 2 n y n x\n       what is typed (on Windows a case for both gets its first key first)
//   after: System live live live, Skulvane_Backups old live old
//   --
//   the transcript: the program's texts byte for byte, each line feed a line of the file, a tab
//   written \t; each command line marked where it runs, with what came of it:
//   {cls} {pause} {md Skulvane_Backups|made} {copy SOURCE TARGET|done} {copy ...|no source}
//
// In `input:` and in the transcript \t \n \r \v \f \0 and \\ stand for those bytes; any other
// backslash stands for itself (as in System\SkAux.ini). The file's last line feed ends the file,
// not the transcript. A mark ends on its own line; a file with a mark left open, or a '}' outside
// one, is refused with its name and line, as is any other malformed file.
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace support {

/// The three settings files, in the order the program handles them and a case's "after:" names
/// them.
inline const std::array<const char*, 3> kNames = {"SkAux.ini", "SkulvaneUser.ini",
                                                  "SkLoadouts.ini"};

/// A transcript file as it is built into the tests: its name (the file's, without .txt) and text.
struct TranscriptFile {
  const char* name;
  const char* text;
};
const std::vector<TranscriptFile>& TranscriptFiles();

/// One session case, read from its file.
struct SessionCase {
  std::string name;
  std::string platforms;
  std::string before;
  std::string input;
  std::array<std::string, 3> live_after;    ///< live, old, edited or - (none), per file
  bool folder_after = false;                ///< Skulvane_Backups exists afterwards
  std::array<std::string, 3> backup_after;  ///< as live_after
  std::string transcript;                   ///< with the command lines marked
};

/// `text` with the escapes above turned into their bytes.
inline std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string_view codes = "tnrvf0\\";
    const std::size_t code = i + 1 < text.size() ? codes.find(text[i + 1]) : std::string_view::npos;
    if (text[i] != '\\' || code == std::string_view::npos) {
      out += text[i];
      continue;
    }
    out += "\t\n\r\v\f\0\\"[code];
    ++i;
  }
  return out;
}

/// Throws, naming the file and line, where a mark of `body` (the transcript as the file holds
/// it, from line `first_line` of the file) is left open or a '}' stands outside one.
inline void CheckMarks(const std::string& file, std::string_view body, std::size_t first_line) {
  std::size_t line = first_line;
  bool in_mark = false;
  for (const char c : body) {
    if ((c == '{' && in_mark) || (c == '\n' && in_mark) || (c == '}' && !in_mark)) {
      throw std::runtime_error(file + ".txt:" + std::to_string(line) +
                               (c == '}' ? ": a } outside a mark" : ": a mark { left open"));
    }
    in_mark = c == '{' || (in_mark && c != '}');
    line += c == '\n' ? 1 : 0;
  }
  if (in_mark) {
    throw std::runtime_error(file + ".txt:" + std::to_string(line) + ": a mark { left open");
  }
}

inline SessionCase ParseCase(const TranscriptFile& file) {
  SessionCase c;
  c.name = file.name;
  std::string_view text = file.text;
  const std::size_t body = text.find("\n--\n");
  if (body == std::string_view::npos || text.empty() || text.back() != '\n') {
    throw std::runtime_error(c.name + ": no line -- before the transcript, or no last line feed");
  }
  for (std::string_view head = text.substr(0, body + 1); !head.empty();) {
    const std::string_view line = head.substr(0, head.find('\n'));
    head.remove_prefix(line.size() + 1);
    const std::size_t colon = line.find(": ");
    const std::string_view key = line.substr(0, colon);
    const std::string_view value = colon == std::string_view::npos ? "" : line.substr(colon + 2);
    if (key == "platforms") {
      c.platforms = value;
    } else if (key == "before") {
      c.before = value;
    } else if (key == "input") {
      c.input = Unescape(value);
    } else if (key == "after") {
      std::string list(value);
      std::replace(list.begin(), list.end(), ',', ' ');
      std::istringstream in(list);
      const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
      c.folder_after = words.size() == 8;
      if ((words.size() != 8 && words.size() != 6) || words[0] != "System") {
        throw std::runtime_error(c.name + ": after: System A B C, Skulvane_Backups D E F");
      }
      for (int i = 0; i < 3; ++i) {
        c.live_after[i] = words[1 + i];
        c.backup_after[i] = c.folder_after ? words[5 + i] : "-";
      }
    } else if (!line.empty() && line[0] != '#') {
      throw std::runtime_error(c.name + ": unknown line " + std::string(line));
    }
  }
  const std::string_view transcript = text.substr(body + 4, text.size() - body - 5);
  CheckMarks(c.name, transcript,
             static_cast<std::size_t>(std::count(text.begin(), text.begin() + body, '\n')) + 3);
  c.transcript = Unescape(transcript);
  return c;
}

/// Every case, in the order of their names.
inline const std::vector<SessionCase>& SessionCases() {
  static const std::vector<SessionCase> cases = [] {
    std::vector<SessionCase> all;
    for (const TranscriptFile& file : TranscriptFiles()) {
      all.push_back(ParseCase(file));
    }
    return all;
  }();
  return cases;
}

inline const SessionCase& SessionCaseNamed(std::string_view name) {
  for (const SessionCase& c : SessionCases()) {
    if (c.name == name) {
      return c;
    }
  }
  throw std::runtime_error("no transcript " + std::string(name));
}

/// The cases that run on `platform` ("linux" or "windows").
inline std::vector<SessionCase> SessionCasesFor(std::string_view platform) {
  std::vector<SessionCase> cases;
  for (const SessionCase& c : SessionCases()) {
    if (c.platforms == "both" || c.platforms == platform) {
      cases.push_back(c);
    }
  }
  return cases;
}

/// `transcript` with each marked command line {LINE|OUTCOME} (or {LINE}) replaced by what
/// `show(LINE, OUTCOME)` gives.
inline std::string Expand(
    const std::string& transcript,
    const std::function<std::string(const std::string& line, const std::string& outcome)>& show) {
  std::string out;
  for (std::size_t at = 0; at < transcript.size();) {
    const std::size_t open = transcript.find('{', at);
    out.append(transcript, at, open == std::string::npos ? std::string::npos : open - at);
    if (open == std::string::npos) {
      break;
    }
    const std::size_t close = transcript.find('}', open);
    if (close == std::string::npos) {
      throw std::runtime_error("a mark { left open: " + transcript.substr(open));
    }
    const std::string mark = transcript.substr(open + 1, close - open - 1);
    const std::size_t bar = mark.find('|');
    out += show(mark.substr(0, bar), bar == std::string::npos ? "" : mark.substr(bar + 1));
    at = close + 1;
  }
  return out;
}

/// The program's own texts in `transcript`, in order: each stretch between its marked parts
/// that is not empty.
inline std::vector<std::string> Texts(const std::string& transcript) {
  std::vector<std::string> texts;
  for (std::size_t at = 0; at < transcript.size();) {
    const std::size_t open = std::min(transcript.find('{', at), transcript.size());
    if (open > at) {
      texts.push_back(transcript.substr(at, open - at));
    }
    if (open < transcript.size() && transcript.find('}', open) == std::string::npos) {
      throw std::runtime_error("a mark { left open: " + transcript.substr(open));
    }
    at = open < transcript.size() ? transcript.find('}', open) + 1 : open;
  }
  return texts;
}

/// The last text of the operation of the case named `name`: the one before its pause.
inline std::string OperationEnd(std::string_view name) {
  const std::vector<std::string> texts = Texts(SessionCaseNamed(name).transcript);
  return texts.at(texts.size() - 2);
}

/// PrintTo for a parameterised test over session cases: its name.
inline void PrintTo(const SessionCase& c, std::ostream* os) {
  *os << c.name;
}

}  // namespace support
