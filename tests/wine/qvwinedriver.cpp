// qvwinedriver: drives a Windows program's dialogs from outside, the way a
// person would, through window messages. Built for the Wine tests, but plain
// Win32, so it runs the same on Windows.
//
// Usage: qvwinedriver <script file (UTF-8)> [<exchange folder>]
// One step per line; blank lines and lines starting with ';' are skipped.
//   watchdog <ms>        ends everything (exit 3) when the whole script takes longer
//   timeout <ms>         limit of each following waiting step (default 15000)
//   start <command line> starts the program under test (the first word is the program);
//                        it becomes the current program, the one the steps below act on
//   program <n>          makes the n-th (1-based) program started the current one
//   absent <ms>          fails if the current program shows a window within <ms>
//   any <title> [| <text>]    like window, among every program still running; the
//                        program that shows it becomes the current one
//   others-absent <ms>   fails if a running program other than the current one shows
//                        a window within <ms>
//   kill                 ends the current program at once, as a crash would
//   window <title>       waits for an enabled visible top-level window of the program
//                        with exactly this title; it becomes the current window.
//   window <title> | <text>   the same, and one of its texts must contain <text>
//   expect <text>        waits until a text of the current window contains <text>
//   texts                prints every text of the current window ("class: text")
//   td-click <id>        TDM_CLICK_BUTTON with the button id
//   click <label>        BM_CLICK on the button whose label (without '&') is <label>
//   click-id <id>        BM_CLICK on the child with this control id (IDYES is 6, IDNO 7
//                        in a message box, whatever the language of its labels)
//   settext <class> <n> <text>  WM_SETTEXT on the n-th (1-based) child of that class
//   screenshot <name>    once the current window has settled (its children stable and
//                        painted), asks the script outside for a picture: writes the
//                        window's rectangle "x y width height" to <exchange>\<name>.request
//                        and waits for <exchange>\<name>.done
//   signal <file>        creates the file (lets a script outside act)
//   await <file>         waits until the file exists
//   gone                 waits until the current window is destroyed
//   sleep <ms>           waits
//   exit <code>          waits for the program's end and checks its exit code
//
// qvwinedriver --record <file> <anything>: appends the text after <file> to <file>
// as one UTF-8 line and ends. The tests make it the shell's "open" command for
// folders, so a program's request to show a folder is written down instead of
// opening a file-manager window.
// Exit status: 0 when every step passed, 1 on a failed step (with the reason and
// the windows seen), 2 on a bad script, 3 when the watchdog fired.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
PROCESS_INFORMATION g_program{};  // the current program
std::vector<PROCESS_INFORMATION> g_started;
DWORD g_watchdogMs = 0;

void Write(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

std::wstring WindowText(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 2000, &copied))
    return {};
  text.resize(copied);
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> ProgramWindows(DWORD program = g_program.dwProcessId) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{program, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == s->pid && IsWindowVisible(hwnd)) s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Running(const PROCESS_INFORMATION& p) {
  return WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT;
}

// The dialog's own text and every child's, the way a person reads the window.
bool HasText(HWND window, const std::wstring& wanted) {
  if (WindowText(window).find(wanted) != std::wstring::npos) return true;
  for (HWND child : Children(window))
    if (IsWindowVisible(child) && WindowText(child).find(wanted) != std::wstring::npos)
      return true;
  return false;
}

std::wstring Describe(HWND window) {
  std::wstring out = L"  fenêtre \"" + WindowText(window) + L"\" (" + ClassName(window) +
                     (IsWindowEnabled(window) ? L")\n" : L", inactive)\n");
  for (HWND child : Children(window)) {
    // Empty boxes are listed too: they are what a script types into.
    if (IsWindowVisible(child))
      out += L"    " + ClassName(child) + L": " + WindowText(child) + L"\n";
  }
  return out;
}

std::wstring DescribeProgram() {
  std::wstring out;
  for (HWND w : ProgramWindows()) out += Describe(w);
  return out.empty() ? L"  (aucune fenêtre visible)\n" : out;
}

[[noreturn]] void Finish(int status) {
  for (const auto& started : g_started)
    if (WaitForSingleObject(started.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(started.hProcess, 99);
  ExitProcess(static_cast<UINT>(status));
}

DWORD WINAPI Watchdog(void*) {
  Sleep(g_watchdogMs);
  Write(L"ÉCHEC : délai global de " + std::to_wstring(g_watchdogMs) +
        L" ms dépassé ; fenêtres du programme :\n" + DescribeProgram());
  Finish(3);
}

std::wstring Trim(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t\r");
  if (b == std::wstring::npos) return {};
  size_t e = s.find_last_not_of(L" \t\r");
  return s.substr(b, e - b + 1);
}

std::wstring StripAmpersands(const std::wstring& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'&' && i + 1 < s.size()) ++i;
    out += s[i];
  }
  return out;
}

bool ReadScript(const wchar_t* path, std::vector<std::wstring>& lines) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

class Runner {
 public:
  explicit Runner(std::wstring exchange) : exchange_(std::move(exchange)) {}

  // Runs one step; returns an empty string on success or the reason of the failure.
  std::wstring Step(const std::wstring& verb, const std::wstring& arg) {
    if (verb == L"watchdog") {
      g_watchdogMs = static_cast<DWORD>(std::stoul(arg));
      CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
      return {};
    }
    if (verb == L"timeout") {
      timeoutMs_ = static_cast<DWORD>(std::stoul(arg));
      return {};
    }
    if (verb == L"sleep") {
      Sleep(static_cast<DWORD>(std::stoul(arg)));
      return {};
    }
    if (verb == L"start") return Start(arg);
    if (verb == L"program") {
      size_t n = std::stoul(arg);
      if (n < 1 || n > g_started.size()) return L"pas de programme numéro " + arg;
      g_program = g_started[n - 1];
      current_ = nullptr;
      return {};
    }
    if (verb == L"absent") return Absent(static_cast<DWORD>(std::stoul(arg)));
    if (verb == L"kill") {
      if (!g_program.hProcess || !TerminateProcess(g_program.hProcess, 98))
        return L"le programme n'a pas pu être arrêté";
      WaitForSingleObject(g_program.hProcess, timeoutMs_);
      return {};
    }
    if (verb == L"signal") {
      HANDLE f = CreateFileW(arg.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (f == INVALID_HANDLE_VALUE) return L"impossible de créer " + arg;
      CloseHandle(f);
      return {};
    }
    if (verb == L"await")
      return WaitFor([&] { return GetFileAttributesW(arg.c_str()) != INVALID_FILE_ATTRIBUTES; })
                 ? L""
                 : L"le fichier " + arg + L" n'est pas apparu";
    if (verb == L"exit") return Exit(arg);
    if (verb == L"window") return FindWindowStep(arg, false);
    if (verb == L"any") return FindWindowStep(arg, true);
    if (verb == L"others-absent") return OthersAbsent(static_cast<DWORD>(std::stoul(arg)));
    // Every step below acts on the current window.
    if (!current_) return L"aucune fenêtre courante (une étape « window » doit précéder)";
    if (verb == L"expect")
      return WaitWhileRunning([&] { return HasText(current_, arg); })
                 ? L""
                 : L"texte « " + arg + L" » absent" + EndedNote();
    if (verb == L"texts") {
      Write(Describe(current_));
      return {};
    }
    if (verb == L"gone")
      return WaitFor([&] { return !IsWindow(current_); }) ? L"" : L"la fenêtre est restée ouverte";
    if (verb == L"td-click") {
      // Posted, not sent: the click may open a modal box that would hold a
      // sent message until it closes.
      if (!PostMessageW(current_, TDM_CLICK_BUTTON, std::stoi(arg), 0))
        return L"TDM_CLICK_BUTTON n'a pas pu être envoyé";
      return {};
    }
    if (verb == L"click") return Click(arg);
    if (verb == L"click-id") return ClickId(std::stoi(arg));
    if (verb == L"screenshot") return Screenshot(arg);
    if (verb == L"settext") return SetText(arg);
    return L"étape inconnue « " + verb + L" »";
  }

 private:
  template <class Pred>
  bool WaitFor(Pred ready) {
    DWORD begin = GetTickCount();
    for (;;) {
      if (ready()) return true;
      if (GetTickCount() - begin >= timeoutMs_) return false;
      Sleep(kPollMs);
    }
  }

  // WaitFor for what only a running program can bring: gives up as soon as
  // the program has ended (a crash need not wait for the timeout).
  template <class Pred>
  bool WaitWhileRunning(Pred ready) {
    bool met = false;
    WaitFor([&] { return (met = ready()) || Ended(); });
    return met;
  }
  bool Ended() const {
    return g_program.hProcess && WaitForSingleObject(g_program.hProcess, 0) == WAIT_OBJECT_0;
  }
  std::wstring EndedNote() const {
    DWORD code = 0;
    if (!Ended() || !GetExitCodeProcess(g_program.hProcess, &code)) return {};
    return L" (le programme s'est terminé, code " + std::to_wstring(code) + L")";
  }

  std::wstring Start(const std::wstring& commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &g_program))
      return L"impossible de démarrer (erreur " + std::to_wstring(GetLastError()) + L")";
    g_started.push_back(g_program);
    current_ = nullptr;
    return {};
  }

  std::wstring Absent(DWORD ms) {
    DWORD begin = GetTickCount();
    do {
      std::vector<HWND> shown = ProgramWindows();
      if (!shown.empty()) return L"une fenêtre est apparue :\n" + Describe(shown.front());
      Sleep(kPollMs);
    } while (GetTickCount() - begin < ms);
    return {};
  }

  // Waits until the window looks as a person would see it: no child window
  // added or removed for a while (the item chooser fills itself in after it
  // appears), then every pending message and the repaint they cause handled.
  void Settle() {
    constexpr DWORD kStableMs = 400;
    DWORD begin = GetTickCount(), stableSince = begin;
    size_t count = Children(current_).size();
    while (GetTickCount() - stableSince < kStableMs && GetTickCount() - begin < timeoutMs_) {
      Sleep(kPollMs);
      size_t now = Children(current_).size();
      if (now != count) {
        count = now;
        stableSince = GetTickCount();
      }
    }
    DWORD_PTR ignored = 0;
    // A sent message is answered only when the program's thread is back in
    // its message loop; the repaint asked for then comes before its next wait.
    SendMessageTimeoutW(current_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    RedrawWindow(current_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    SendMessageTimeoutW(current_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    Sleep(250);
    SendMessageTimeoutW(current_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  }

  std::wstring Exit(const std::wstring& expected) {
    if (!g_program.hProcess) return L"aucun programme démarré";
    if (WaitForSingleObject(g_program.hProcess, timeoutMs_) != WAIT_OBJECT_0)
      return L"le programme ne s'est pas terminé";
    DWORD code = 0;
    GetExitCodeProcess(g_program.hProcess, &code);
    if (std::to_wstring(code) != expected)
      return L"code de sortie " + std::to_wstring(code) + L", attendu " + expected;
    return {};
  }

  std::wstring OthersAbsent(DWORD ms) {
    DWORD begin = GetTickCount();
    do {
      for (const auto& other : g_started) {
        if (other.dwProcessId == g_program.dwProcessId || !Running(other)) continue;
        std::vector<HWND> shown = ProgramWindows(other.dwProcessId);
        if (!shown.empty()) return L"un autre programme montre une fenêtre :\n" + Describe(shown.front());
      }
      Sleep(kPollMs);
    } while (GetTickCount() - begin < ms);
    return {};
  }

  std::wstring FindWindowStep(const std::wstring& arg, bool anyProgram) {
    std::wstring title = arg, text;
    size_t bar = arg.find(L" | ");
    if (bar != std::wstring::npos) {
      title = Trim(arg.substr(0, bar));
      text = Trim(arg.substr(bar + 3));
    }
    HWND found = nullptr;
    PROCESS_INFORMATION owner = g_program;
    auto shows = [&](const PROCESS_INFORMATION& program) {
      for (HWND w : ProgramWindows(program.dwProcessId)) {
        // A modal box disables the window it covers, so the enabled one
        // is the one the user is looking at.
        if (IsWindowEnabled(w) && WindowText(w) == title && (text.empty() || HasText(w, text))) {
          found = w;
          owner = program;
          return true;
        }
      }
      return false;
    };
    bool ok = anyProgram ? WaitFor([&] {
      for (const auto& program : g_started)
        if (Running(program) && shows(program)) return true;
      return false;
    })
                         : WaitWhileRunning([&] { return shows(g_program); });
    if (!ok)
      return L"pas de fenêtre « " + title + L" »" + (text.empty() ? L"" : L" avec « " + text + L" »") +
             EndedNote();
    g_program = owner;
    current_ = found;
    return {};
  }

  std::wstring Click(const std::wstring& label) {
    HWND button = nullptr;
    bool ok = WaitFor([&] {
      for (HWND child : Children(current_))
        if (_wcsicmp(ClassName(child).c_str(), L"Button") == 0 && IsWindowVisible(child) &&
            StripAmpersands(WindowText(child)) == label) {
          button = child;
          return true;
        }
      return false;
    });
    if (!ok) return L"pas de bouton « " + label + L" »";
    PostMessageW(button, BM_CLICK, 0, 0);
    return {};
  }

  std::wstring ClickId(int id) {
    HWND button = nullptr;
    if (!WaitFor([&] { return (button = GetDlgItem(current_, id)) != nullptr; }))
      return L"pas de contrôle d'identifiant " + std::to_wstring(id);
    PostMessageW(button, BM_CLICK, 0, 0);
    return {};
  }

  std::wstring Screenshot(const std::wstring& name) {
    if (exchange_.empty()) return L"screenshot demande un dossier d'échange en argument";
    Settle();
    RECT r{};
    GetWindowRect(current_, &r);
    std::wstring base = exchange_ + L"\\" + name;
    HANDLE f = CreateFileW((base + L".request").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return L"impossible d'écrire " + base + L".request";
    std::string rect = std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                       std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top) + "\n";
    DWORD written = 0;
    WriteFile(f, rect.data(), static_cast<DWORD>(rect.size()), &written, nullptr);
    CloseHandle(f);
    std::wstring done = base + L".done";
    return WaitFor([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; })
               ? L""
               : L"la capture « " + name + L" » n'a pas été faite";
  }

  std::wstring SetText(const std::wstring& arg) {
    size_t s1 = arg.find(L' ');
    size_t s2 = s1 == std::wstring::npos ? s1 : arg.find(L' ', s1 + 1);
    if (s2 == std::wstring::npos) return L"settext attend : <classe> <rang> <texte>";
    std::wstring cls = arg.substr(0, s1);
    int rank = std::stoi(arg.substr(s1 + 1, s2 - s1 - 1));
    std::wstring text = arg.substr(s2 + 1);
    HWND target = nullptr;
    bool ok = WaitFor([&] {
      int seen = 0;
      for (HWND child : Children(current_))
        if (_wcsicmp(ClassName(child).c_str(), cls.c_str()) == 0 && ++seen == rank) {
          target = child;
          return true;
        }
      return false;
    });
    if (!ok) return L"pas de fenêtre de classe " + cls + L" au rang " + std::to_wstring(rank);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, 5000, &result))
      return L"WM_SETTEXT sans réponse";
    return {};
  }

  std::wstring exchange_;
  DWORD timeoutMs_ = 15000;
  HWND current_ = nullptr;
};

}  // namespace

int Record(const wchar_t* file) {
  // The raw command line keeps the quotes and blanks of the request.
  std::wstring line = GetCommandLineW();
  size_t at = line.find(file);
  std::wstring rest = at == std::wstring::npos ? line : line.substr(at + wcslen(file));
  if (!rest.empty() && rest[0] == L'"') rest.erase(0, 1);
  rest = Trim(rest);
  if (rest.size() >= 2 && rest.front() == L'"' && rest.back() == L'"')
    rest = rest.substr(1, rest.size() - 2);
  rest += L"\r\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, rest.data(), static_cast<int>(rest.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, rest.data(), static_cast<int>(rest.size()), bytes.data(), n,
                      nullptr, nullptr);
  HANDLE f = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && wcscmp(argv[1], L"--record") == 0) return Record(argv[2]);
  if (argc != 2 && argc != 3) {
    Write(L"usage : qvwinedriver <script> [<dossier d'échange>]\n");
    return 2;
  }
  std::vector<std::wstring> lines;
  if (!ReadScript(argv[1], lines)) {
    Write(L"script illisible : " + std::wstring(argv[1]) + L"\n");
    return 2;
  }
  Runner runner(argc == 3 ? argv[2] : L"");
  for (size_t i = 0; i < lines.size(); ++i) {
    std::wstring line = Trim(lines[i]);
    if (line.empty() || line[0] == L';') continue;
    size_t space = line.find(L' ');
    std::wstring verb = line.substr(0, space);
    std::wstring arg = space == std::wstring::npos ? L"" : Trim(line.substr(space + 1));
    Write(L"> " + line + L"\n");
    std::wstring failure;
    try {
      failure = runner.Step(verb, arg);
    } catch (const std::exception&) {
      failure = L"argument invalide";
    }
    if (!failure.empty()) {
      Write(L"ÉCHEC ligne " + std::to_wstring(i + 1) + L" (" + line + L") : " + failure +
            L"\nfenêtres du programme :\n" + DescribeProgram());
      Finish(1);
    }
  }
  Write(L"OK\n");
  Finish(0);
}
