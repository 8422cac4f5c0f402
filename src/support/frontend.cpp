#include "support/frontend.h"

#include <optional>

namespace qv {

FrontEnd ChooseFrontEnd(std::string_view qvUi, InputKind input, bool outputIsTerminal,
                        const std::function<bool()>& desktopStarts) {
  const bool atTerminal = input == InputKind::Terminal && outputIsTerminal;
  auto desktopOr = [&](FrontEnd fallback) {
    return desktopStarts && desktopStarts() ? FrontEnd::Desktop : fallback;
  };
  // Asked for by name. The terminal renderer needs a terminal on both sides
  // and the desktop needs a display: without them, line mode.
  if (qvUi == "line") return FrontEnd::Line;
  if (qvUi == "terminal") return atTerminal ? FrontEnd::Terminal : FrontEnd::Line;
  if (qvUi == "gtk") return desktopOr(FrontEnd::Line);
  // Any other value is not a choice: standard input decides.
  switch (input) {
    case InputKind::Pipe:
    case InputKind::File:
      return FrontEnd::Line;
    case InputKind::Terminal:
      return atTerminal ? FrontEnd::Terminal : FrontEnd::Line;
    case InputKind::Other:
      break;
  }
  return desktopOr(FrontEnd::Line);
}

namespace {
std::optional<DesktopFrontEnd> g_desktop;
}

void RegisterDesktopFrontEnd(DesktopFrontEnd desktop) { g_desktop = std::move(desktop); }

const DesktopFrontEnd* RegisteredDesktopFrontEnd() { return g_desktop ? &*g_desktop : nullptr; }

}  // namespace qv
