#include "support/modShellExtended.h"

#include "support/modOperationFichier.h"
#include "support/shell_platform.h"
#include "support/text.h"

namespace qv {
namespace {

ShellExecuteHook& Hook() {
  static ShellExecuteHook hook;
  return hook;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

ShellRequest MakeRequest(const std::string& file, const std::string& parameters,
                         const std::string& verb, int32_t show, bool extended) {
  return ShellRequest{file, parameters, verb, ShellWorkingDirectory(file, kPathSep), show, extended};
}

}  // namespace

ShellTarget SplitShellTarget(const std::string& target) {
  // Lower-casing ASCII letters keeps every byte where it was, so positions found
  // in the lowered copy hold in the target.
  const std::string lower = AsciiLower(target);
  if (EndsWith(lower, ".lnk")) return {target, {}};
  auto p = lower.rfind(".exe");
  if (p == std::string::npos) return {target, {}};
  // ".exe" and the one character after it (a whole UTF-8 sequence).
  std::size_t end = p + 4;
  if (end < target.size()) end += Utf8First(std::string_view(target).substr(end)).size();
  if (end >= target.size()) return {target, {}};
  return {target.substr(0, end), TrimBlanks(target.substr(end))};
}

std::string ShellWorkingDirectory(const std::string& file, char sep) {
  // A quoted program path would otherwise leave its opening quote in front.
  std::string dir;
  for (char c : GetParentFolder(file, sep))
    if (c != '"') dir += c;
  return dir;
}

double ShellOpen(const std::string& target, int32_t show, bool extended) {
  ShellTarget t = SplitShellTarget(target);
  if (extended) return static_cast<double>(ShellExecuteOpenEx(t.file, t.parameters, "open", show, nullptr));
  return ShellExecuteOpen(t.file, t.parameters, "open", show, nullptr);
}

int32_t ShellExecuteOpen(const std::string& file, const std::string& parameters,
                         const std::string& verb, int32_t show, void* owner) {
  try {
    ShellRequest r = MakeRequest(file, parameters, verb, show, false);
    if (Hook()) return static_cast<int32_t>(Hook()(r));
    return shell::PlatformExecute(r, owner);
  } catch (...) {
    return 0;  // the platform's answer when it could not even try
  }
}

intptr_t ShellExecuteOpenEx(const std::string& file, const std::string& parameters,
                            const std::string& verb, int32_t show, void* owner) {
  try {
    ShellRequest r = MakeRequest(file, parameters, verb, show, true);
    if (Hook()) return Hook()(r);
    return shell::PlatformExecuteEx(r, owner);
  } catch (...) {
    return -1;
  }
}

void SetShellExecuteHook(ShellExecuteHook hook) { Hook() = std::move(hook); }

}  // namespace qv
