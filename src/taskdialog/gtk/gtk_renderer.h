// The desktop renderer of the dialog layer: every dialog the layer shows is a
// GTK 4 + libadwaita window, and the user's actions on it go back to the
// layer as the platform's own clicks and text changes would:
//   - main instruction as the heading, content beneath it, the main icon as a
//     symbolic icon of the theme;
//   - command links as activatable rows of a boxed list (title and subtitle);
//     in a progress dialog its buttons stand in the button row instead;
//   - the input box (clear or masked) in the button row, left of the common
//     buttons, Enter taking the default button;
//   - the footer with its icon beneath a separator;
//   - Escape and the close box clicking Cancel only where the dialog allows
//     cancellation; otherwise the window has no close box at all;
//   - Yes/No questions as AdwMessageDialog.
// Every control carries an accessible name or a labelled-by / described-by
// relation, which is how the desktop tests find and drive them.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "taskdialog/tdlayer.h"

namespace qv {

class GtkRenderer : public DialogRenderer {
 public:
  GtkRenderer();
  ~GtkRenderer() override;

  void Shown(LayerDialog& dialog) override;
  void Changed(LayerDialog& dialog) override;
  void Ticked(LayerDialog& dialog) override;
  void Closed(LayerDialog& dialog) override;
  void Navigated(LayerDialog& dialog) override;
  int Question(const std::string& text, const std::string& title, uint32_t flags) override;
  void Beep(uint32_t type) override;

  // The theme's symbolic icon standing for a stock icon ordinal; "" for none.
  static const char* IconName(intptr_t icon);

  struct View;
  // How often a progress dialog's changes are drawn at the most.
  static constexpr int kSyncIntervalMs = 100;

 private:
  void Build(LayerDialog& d, View& v);
  void Sync(LayerDialog& d, View& v);
  void Teardown(View& v);
  std::map<LayerDialog*, std::unique_ptr<View>> views_;
  int64_t shown_ = 0;
};

// Installs the dialog layer with this renderer as the platform of the run,
// once StartGtkFrontEnd has succeeded.
void InstallGtkDialogLayer(const std::string& programTitle);

}  // namespace qv
