// Stands in for the command interpreter (COMSPEC) in the sessions of the Windows program, and
// marks in the program's output each command line it hands on: it writes \x01, the line it was
// given, \x02; has the system's own interpreter, cmd.exe, carry out that line on the same
// standard handles; then writes \x03 and ends with the interpreter's exit code. So a session's
// transcript shows exactly which command lines ran and where, and which bytes are the
// interpreter's own.

#include <windows.h>

#include <string>

namespace {

void Put(const std::wstring& text) {
  const std::string bytes(text.begin(), text.end());  // the command lines are plain ASCII
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

}  // namespace

int main() {
  // The C runtime's system() starts COMSPEC with the command line "COMSPEC /c LINE".
  const std::wstring own = GetCommandLineW();
  const std::size_t flag = own.find(L" /c ");
  if (flag == std::wstring::npos) {
    return 2;
  }
  const std::wstring line = own.substr(flag + 4);
  Put(L"\x01" + line + L"\x02");

  std::wstring command_line = L"cmd.exe /c " + line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  DWORD exit_code = 3;
  if (CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  Put(L"\x03");
  return static_cast<int>(exit_code);
}
