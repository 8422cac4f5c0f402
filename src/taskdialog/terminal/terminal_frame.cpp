#include "taskdialog/terminal/terminal_frame.h"

#include <algorithm>

#include "support/text.h"
#include "taskdialog/terminal/terminal_renderer.h"

namespace qv {
namespace {

std::string Safe(const std::string& text) { return EscapeForDisplay(text, true); }

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

const char* const kBold = "\x1b[1m";
const char* const kDim = "\x1b[2m";
const char* const kReverse = "\x1b[7m";
const char* const kReset = "\x1b[0m";

std::string TitleRule(const std::string& titleText, int width) {
  std::string safe = Safe(titleText);
  // A title longer than the line is cut, with an ellipsis.
  if (static_cast<int>(Utf8Length(safe)) > width - 4)
    safe = Utf32ToUtf8(Utf8ToUtf32(safe).substr(0, static_cast<size_t>(std::max(1, width - 5)))) + "…";
  std::string title = " " + safe + " ";
  int rule = std::max(0, width - static_cast<int>(Utf8Length(title)) - 2);
  return std::string(kDim) + "──" + kReset + kBold + title + kReset + kDim + Repeat("─", rule) +
         kReset;
}

}  // namespace

std::vector<std::string> FrameTextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  lines.push_back(cur);
  while (!lines.empty() && Blank(lines.back())) lines.pop_back();
  return lines;
}

std::vector<std::string> WrapLine(const std::string& line, int width) {
  std::vector<std::string> out;
  std::u32string rest = Utf8ToUtf32(line);
  if (width < 10) width = 10;
  while (static_cast<int>(rest.size()) > width) {
    size_t cut = rest.rfind(U' ', static_cast<size_t>(width));
    if (cut == std::u32string::npos || cut == 0) cut = static_cast<size_t>(width);
    out.push_back(Utf32ToUtf8(rest.substr(0, cut)));
    rest = rest.substr(cut);
    if (!rest.empty() && rest[0] == U' ') rest.erase(0, 1);
  }
  out.push_back(Utf32ToUtf8(rest));
  return out;
}

namespace {
// The first line of a text that is not blank, escaped.
std::string FirstLine(const std::string& text) {
  for (const auto& l : FrameTextLines(Safe(text)))
    if (!Blank(l)) return Trim(l);
  return "";
}
}  // namespace

std::vector<FrameItem> FocusItems(const LayerDialog& d) {
  std::vector<FrameItem> items;
  for (const auto& b : d.Buttons())
    if (b.commandLink && b.enabled) items.push_back(FrameItem{FrameItem::kLink, b.id});
  if (d.InputBox().present) items.push_back(FrameItem{FrameItem::kInput, 0});
  for (const auto& b : d.Buttons())
    if (!b.commandLink && b.enabled) items.push_back(FrameItem{FrameItem::kButton, b.id});
  return items;
}

int InitialFocus(const LayerDialog& d, const std::vector<FrameItem>& items) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].kind == FrameItem::kInput) return static_cast<int>(i);
  int32_t def = d.Record().nDefaultButton;
  for (size_t i = 0; i < items.size(); ++i)
    if (def != 0 && items[i].id == def && items[i].kind != FrameItem::kInput)
      return static_cast<int>(i);
  return items.empty() ? -1 : 0;
}

std::vector<std::string> DialogFrame(const LayerDialog& d, const FrameState& state) {

  const int cols = std::max(20, std::min(state.columns, 100));
  const int width = cols - 4;
  const bool final = state.final;
  auto items = FocusItems(d);
  int focus = state.focus;
  if (focus < 0 || focus >= static_cast<int>(items.size())) focus = InitialFocus(d, items);
  auto focused = [&](FrameItem::Kind k, int32_t id) {
    if (final || focus < 0) return false;
    const FrameItem& it = items[static_cast<size_t>(focus)];
    return it.kind == k && (k == FrameItem::kInput || it.id == id);
  };

  std::vector<std::string> lines;
  auto addWrapped = [&](const std::string& text, const std::string& indent, const char* style) {
    for (const auto& l : FrameTextLines(Safe(text)))
      for (const auto& w : WrapLine(l, width - static_cast<int>(Utf8Length(indent))))
        lines.push_back(indent + (style ? style : "") + w + (style ? kReset : ""));
  };
  lines.push_back(TitleRule(d.Title(), width));
  addWrapped(d.MainInstruction(), " ", kBold);
  addWrapped(d.Content(), " ", nullptr);

  int n = 0;
  for (const auto& b : d.Buttons()) {
    if (!b.commandLink) continue;
    ++n;
    bool f = focused(FrameItem::kLink, b.id);
    // The link's main line wraps under its own text, past the number.
    const std::string number = std::to_string(n) + ". ";
    const int textWidth = width - 4 - static_cast<int>(number.size()) - 1;
    bool firstPiece = true;
    for (const auto& l : FrameTextLines(Safe(b.text)))
      for (const auto& w : WrapLine(l, textWidth)) {
        const std::string piece = (firstPiece ? number : std::string(number.size(), ' ')) + w;
        std::string line = "  ";
        line += f ? std::string(kReverse) + (firstPiece ? "› " : "  ") + piece + " " + kReset
                  : std::string(b.enabled ? "" : kDim) + "  " + piece + kReset;
        lines.push_back(line);
        firstPiece = false;
      }
    for (const auto& l : FrameTextLines(Safe(b.note)))
      for (const auto& w : WrapLine(l, width - 7)) lines.push_back(std::string("       ") + kDim + w + kReset);
  }
  for (const auto& r : d.Radios())
    lines.push_back(std::string("  ") + (r.checked ? "(•) " : "( ) ") + Safe(r.text));

  const auto& p = d.ProgressBar();
  if (p.shown) {
    int barW = std::max(10, std::min(width - 12, 50));
    std::string bar;
    if (p.marquee) {
      int pos = static_cast<int>(d.Ticks() % barW);
      for (int i = 0; i < barW; ++i) bar += (i >= pos && i < pos + 5) ? "█" : "░";
      lines.push_back("  " + bar);
    } else {
      int range = std::max(1, p.maximum - p.minimum);
      int pct = static_cast<int>((static_cast<int64_t>(p.position - p.minimum) * 100) / range);
      pct = std::clamp(pct, 0, 100);
      int fill = pct * barW / 100;
      bar = Repeat("█", fill) + Repeat("░", barW - fill);
      std::string num = std::to_string(pct);
      lines.push_back("  " + bar + " " + std::string(3 - std::min<size_t>(3, num.size()), ' ') +
                      num + " %");
    }
  }

  std::string row;
  int rowWidth = 0;
  for (const auto& b : d.Buttons()) {
    if (b.commandLink) continue;
    std::string label = std::string(b.elevated ? "⛨ " : "") + Safe(b.text);
    bool f = focused(FrameItem::kButton, b.id);
    if (!row.empty()) {
      row += "  ";
      rowWidth += 2;
    }
    if (f)
      row += std::string(kReverse) + "[ " + label + " ]" + kReset;
    else if (!b.enabled)
      row += std::string(kDim) + "[ " + label + " ]" + kReset;
    else
      row += "[ " + label + " ]";
    rowWidth += static_cast<int>(Utf8Length(label)) + 4;
  }

  const auto& in = d.InputBox();
  // The box stands where the dialog put it: in the button row, to the left
  // of the buttons (the password prompts), when the row has room for it.
  const int roomBeside = width - 2 - rowWidth - 4;
  const bool besideButtons = in.present && in.inButtonRow && !row.empty() && roomBeside >= 12;
  if (in.present) {
    int boxW = besideButtons ? std::min(roomBeside, 40) : std::max(10, std::min(width - 6, 40));
    std::u32string shown = Utf8ToUtf32(in.masked ? in.text : Safe(in.text));
    std::string body;
    if (shown.empty() && !in.cueBanner.empty() && !focused(FrameItem::kInput, 0)) {
      body = std::string(kDim) + Utf32ToUtf8(Utf8ToUtf32(Safe(in.cueBanner)).substr(0, boxW)) +
             kReset;
      shown.clear();
    } else {
      if (static_cast<int>(shown.size()) > boxW - 1) shown = shown.substr(shown.size() - (boxW - 1));
      body = in.masked ? Repeat("●", static_cast<int>(shown.size())) : Utf32ToUtf8(shown);
    }
    int used = static_cast<int>(shown.size());
    bool f = focused(FrameItem::kInput, 0);
    std::string cursor = f ? std::string(kReverse) + " " + kReset : " ";
    std::string box = "[" + body + cursor + Repeat("_", std::max(0, boxW - used - 1)) + "]";
    if (besideButtons)
      row = box + "  " + row;
    else
      lines.push_back("  " + box);
  }
  if (!row.empty()) lines.push_back("  " + row);

  if (!Blank(d.Footer())) {
    std::string glyph = TerminalRenderer::IconGlyph(d.IconFooter());
    std::string indent = glyph.empty() ? " " : " " + glyph + " ";
    bool first = true;
    for (const auto& l : FrameTextLines(Safe(d.Footer())))
      for (const auto& w : WrapLine(l, width - 3)) {
        lines.push_back((first ? indent : std::string("   ")) + w);
        first = false;
      }
  } else {
    lines.push_back("");
  }
  if (!final) {
    std::string hint;
    if (TerminalRenderer::WantOf(d) == TerminalRenderer::Want::Choice && n > 0) hint = "chiffre ou ↑↓ puis Entrée";
    if (in.present) hint = "Tab : zone suivante · Entrée : valider";
    int32_t cancel = TerminalRenderer::CancelTarget(d);
    if (cancel) hint += std::string(hint.empty() ? "" : " · ") + "Échap ou a : annuler";
    if (!hint.empty()) lines.push_back(std::string(" ") + kDim + hint + kReset);
  }

  return lines;
}

std::vector<std::string> QuestionFrame(const std::string& title, const std::string& text,
                                       int focus, bool answered, int columns) {
  const int width = std::max(20, std::min(columns, 100)) - 4;
  std::vector<std::string> lines;
  lines.push_back(TitleRule(title, width));
  for (const auto& l : FrameTextLines(Safe(text)))
    for (const auto& w : WrapLine(l, width - 2)) lines.push_back(" ? " + w);
  auto button = [&](const char* label, bool f) {
    return f ? std::string(kReverse) + "[ " + label + " ]" + kReset
             : std::string("[ ") + label + " ]";
  };
  lines.push_back("  " + button("Oui", focus == 0) + "  " + button("Non", focus == 1));
  if (!answered)
    lines.push_back(std::string(" ") + kDim + "o : oui · n : non · Entrée : choix en surbrillance" +
                    kReset);
  return lines;
}

std::string ClosedDialogLine(const LayerDialog& d, int32_t pressed) {
  std::string what = FirstLine(d.MainInstruction());
  if (what.empty()) what = FirstLine(d.Title());
  std::string how;
  for (const auto& b : d.Buttons())
    if (b.id == d.Result() || (pressed != 0 && b.id == pressed)) how = FirstLine(b.text);
  // A progress dialog ends on its footer ("Compression complète"); a
  // password box closed by the program leaves its rating, never its text.
  if (how.empty() || d.ProgressBar().shown) how = FirstLine(d.Footer());
  return std::string(" ") + kDim + "✓ " + kReset + what + (how.empty() ? "" : " → " + how);
}

std::string AnsweredQuestionLine(const std::string& text, bool yes) {
  return std::string(" ") + kDim + "? " + kReset + FirstLine(text) + " → " + (yes ? "Oui" : "Non");
}

}  // namespace qv
