#include "support/process.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace qv {
namespace {
std::map<int, std::function<void()>>& Cleanups() {
  static std::map<int, std::function<void()>> c;
  return c;
}
int g_nextCleanup = 1;
std::function<void(int)>& Handler() {
  static std::function<void(int)> h;
  return h;
}
}  // namespace

int AddCleanup(std::function<void()> cleanup) {
  int id = g_nextCleanup++;
  Cleanups()[id] = std::move(cleanup);
  return id;
}

void RemoveCleanup(int id) { Cleanups().erase(id); }

void RunCleanups() {
  while (!Cleanups().empty()) {
    auto it = std::prev(Cleanups().end());
    auto fn = std::move(it->second);
    Cleanups().erase(it);
    try {
      fn();
    } catch (...) {
      // A cleanup that fails must not keep the others from running.
    }
  }
}

void EndProcess(int code) {
  RunCleanups();
  if (Handler()) Handler()(code);
  std::fflush(nullptr);
  std::_Exit(code);
}

std::string TextAfterProgramName(std::string_view line) {
  std::size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    auto close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return std::string(line.substr(i));
}

void SetEndProcessHandler(std::function<void(int)> handler) { Handler() = std::move(handler); }

void ThrowOnEndProcess() {
  SetEndProcessHandler([](int code) { throw ProcessEnded{code}; });
}

}  // namespace qv
