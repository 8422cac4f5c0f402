// Opening a document, a folder or a program with the shell's "open" action.
// The programs use it once, to show the folder that holds their result.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace qv {

// Show commands, with the platform's values.
constexpr int32_t SW_HIDE_ = 0;
constexpr int32_t SW_SHOWNORMAL_ = 1;

// How ShellOpen splits its target: a program path ending in ".exe" followed by
// arguments gives the program part (up to ".exe" and one character more: the
// closing quote or the blank) and the trimmed rest; anything else (a ".lnk"
// shortcut, a folder, a document) is opened whole.
struct ShellTarget {
  std::string file;
  std::string parameters;
};
ShellTarget SplitShellTarget(const std::string& target);

// The folder an opened item runs in: the text before the last separator
// (empty when there is none), without double quotes.
std::string ShellWorkingDirectory(const std::string& file, char sep);

// Opens `target` with the verb "open" and no owner window, through
// ShellExecuteOpenEx when `extended` is set, else ShellExecuteOpen; returns the
// result of that call.
double ShellOpen(const std::string& target, int32_t show = SW_SHOWNORMAL_, bool extended = false);

// Result above 32 means success (the platform's ShellExecute convention). Off
// Windows an item opens with the desktop's default handler, started in the
// background: 42 when it was started, 31 when there is no desktop to show it
// on, 2 when no handler could be started.
int32_t ShellExecuteOpen(const std::string& file, const std::string& parameters,
                         const std::string& verb, int32_t show, void* owner);
// The started process's handle (the caller closes it), 0 when the platform
// refused, -1 on an unexpected failure. Off Windows: the handler's process id,
// or 0.
intptr_t ShellExecuteOpenEx(const std::string& file, const std::string& parameters,
                            const std::string& verb, int32_t show, void* owner);

// True for a 32-bit process on 64-bit Windows; always false elsewhere.
bool IsWow64();

// What the two execute operations were asked to do. A hook installed with
// SetShellExecuteHook receives it instead of the platform (tests record which
// folder would have been opened) and its answer is the operations' result.
struct ShellRequest {
  std::string file;
  std::string parameters;
  std::string verb;
  std::string directory;
  int32_t show;
  bool extended;
};
using ShellExecuteHook = std::function<intptr_t(const ShellRequest&)>;
void SetShellExecuteHook(ShellExecuteHook hook);  // an empty hook restores the platform

}  // namespace qv
