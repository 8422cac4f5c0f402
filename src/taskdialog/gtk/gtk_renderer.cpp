#include "taskdialog/gtk/gtk_renderer.h"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <cstring>
#include <vector>

#include "support/eventloop.h"
#include "support/gtk/gtk_frontend.h"
#include "support/ui.h"
#include "taskdialog/tdconst.h"
#include "taskdialog/tdplatform.h"

namespace qv {

struct GtkRenderer::View {
  LayerDialog* dialog = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* mainIcon = nullptr;
  GtkWidget* heading = nullptr;
  GtkWidget* content = nullptr;
  GtkWidget* progress = nullptr;
  GtkWidget* entry = nullptr;
  GtkWidget* footerBox = nullptr;
  GtkWidget* footerIcon = nullptr;
  GtkWidget* footer = nullptr;
  std::map<int32_t, GtkWidget*> buttons;  // rows and buttons by button id
  // Set while the renderer itself writes into the entry, so that the write
  // is not taken for the user's typing.
  bool syncing = false;
  // The id of the button a row or button stands for, kept per widget.
  std::vector<std::unique_ptr<std::pair<View*, int32_t>>> clicks;
  // Watches for the end of the dialog: a dialog closed from inside a handler
  // that goes on waiting (the cancel's 1 s before the process ends) leaves
  // the screen at once, as the platform's does, not when the stack unwinds.
  guint closingWatch = 0;
  int64_t order = 0;  // shown order, innermost highest
  // What was last handed to GTK: a progress dialog changes its footer for
  // every file and every percent, and setting an unchanged title (a window
  // property on the display), icon (a theme lookup) or accessible
  // description (a message on the accessibility bus) each time would make
  // the dialogs cost more than the work they show.
  std::string title, description;
  bool described = false;
  // Changes are drawn at most every kSyncIntervalMs: the engine's events
  // come far faster than anyone reads them, and each drawn change costs a
  // layout and a frame.
  guint pendingSync = 0;
  gint64 lastSyncUs = 0;
};

namespace {

using View = GtkRenderer::View;

// Command links become rows, except in a progress dialog, where the one
// "Annuler" reads better as the button it is.
bool RowsFor(const LayerDialog& d, const LayerDialog::Button& b) {
  return b.commandLink && !d.ProgressBar().shown;
}

void SetIcon(GtkWidget* image, intptr_t icon) {
  const char* name = GtkRenderer::IconName(icon);
  // The icon name shown, kept on the widget: unchanged, nothing to do.
  const char* shown = static_cast<const char*>(g_object_get_data(G_OBJECT(image), "qv-icon"));
  if (shown && std::strcmp(shown, name) == 0) return;
  g_object_set_data_full(G_OBJECT(image), "qv-icon", g_strdup(name), g_free);
  if (*name) {
    gtk_image_set_from_icon_name(GTK_IMAGE(image), name);
    gtk_widget_set_visible(image, TRUE);
  } else {
    gtk_image_clear(GTK_IMAGE(image));
    gtk_widget_set_visible(image, FALSE);
  }
}

void SetLabel(GtkWidget* label, const std::string& text) {
  if (text != gtk_label_get_text(GTK_LABEL(label))) gtk_label_set_text(GTK_LABEL(label), text.c_str());
  gtk_widget_set_visible(label, !text.empty());
}

// GTK 4.8 measures wrapped labels a pixel apart with and without a width
// (and says so on every layout): the texts keep their lines as given, the
// window takes their width, and only the footer, which follows the engine's
// file names, is cut in the middle when it is too long (its accessible text
// stays whole).
GtkWidget* TextLabel(const char* css, bool ellipsize) {
  GtkWidget* l = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(l), 0.0f);
  if (ellipsize) {
    gtk_label_set_ellipsize(GTK_LABEL(l), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_single_line_mode(GTK_LABEL(l), TRUE);
  }
  if (css) gtk_widget_add_css_class(l, css);
  return l;
}

void Relate(GtkWidget* widget, GtkAccessibleRelation relation, GtkWidget* other) {
  gtk_accessible_update_relation(GTK_ACCESSIBLE(widget), relation, other, nullptr, -1);
}

void Describe(GtkWidget* widget, const std::string& text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                 text.c_str(), -1);
}

void Name(GtkWidget* widget, const std::string& text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 text.c_str(), -1);
}

// The user asked to leave the dialog (Escape, the close box).
void CancelFrom(View* v) {
  if (v->dialog && v->dialog->Open() && v->dialog->AllowsCancel()) v->dialog->Cancel();
}

void ClickFrom(View* v, int32_t id) {
  if (v->dialog && v->dialog->Open()) v->dialog->Click(id);
}

}  // namespace

GtkRenderer::GtkRenderer() = default;

GtkRenderer::~GtkRenderer() {
  for (auto& [d, v] : views_) Teardown(*v);
}

const char* GtkRenderer::IconName(intptr_t icon) {
  switch (icon & 0xFFFF) {
    case 0xFFFF: return "dialog-warning-symbolic";      // warning
    case 0xFFFE: return "dialog-error-symbolic";        // error
    case 0xFFFD: return "dialog-information-symbolic";  // information
    case 0xFFFC:                                        // shield
    case 0xFFFB: return "security-high-symbolic";       // shield, blue bar
    case 0xFFFA: return "dialog-warning-symbolic";      // shield, yellow bar: a choice to make
    case 0xFFF9: return "dialog-password-symbolic";     // shield, red bar: a secret to give
    case 0xFFF8: return "package-x-generic-symbolic";   // shield, green bar: work under way
    case 0xFFF7: return "security-medium-symbolic";     // shield, grey bar
    default: return "";
  }
}

void GtkRenderer::Build(LayerDialog& d, View& v) {
  v.dialog = &d;
  v.window = adw_window_new();
  g_object_ref_sink(v.window);
  if (v.title != d.Title() || v.title.empty()) {
    v.title = d.Title();
    gtk_window_set_title(GTK_WINDOW(v.window), v.title.c_str());
  }
  gtk_window_set_modal(GTK_WINDOW(v.window), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(v.window), FALSE);
  const uint32_t width = d.Record().cxWidth;
  gtk_window_set_default_size(GTK_WINDOW(v.window), width ? static_cast<int>(width * 1.75) : 480, -1);

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* header = adw_header_bar_new();
  GtkWidget* title = adw_window_title_new(d.Title().c_str(), nullptr);
  adw_header_bar_set_title_widget(ADW_HEADER_BAR(header), title);
  // No way out of a dialog that does not allow one: no close box.
  adw_header_bar_set_show_end_title_buttons(ADW_HEADER_BAR(header), d.AllowsCancel());
  adw_header_bar_set_show_start_title_buttons(ADW_HEADER_BAR(header), FALSE);
  gtk_widget_add_css_class(header, "flat");
  gtk_box_append(GTK_BOX(outer), header);

  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_start(body, 24);
  gtk_widget_set_margin_end(body, 24);
  gtk_widget_set_margin_top(body, 6);
  gtk_widget_set_margin_bottom(body, 18);
  gtk_box_append(GTK_BOX(outer), body);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
  v.mainIcon = gtk_image_new();
  gtk_image_set_pixel_size(GTK_IMAGE(v.mainIcon), 48);
  gtk_widget_set_valign(v.mainIcon, GTK_ALIGN_START);
  gtk_accessible_update_property(GTK_ACCESSIBLE(v.mainIcon), GTK_ACCESSIBLE_PROPERTY_LABEL, "", -1);
  gtk_box_append(GTK_BOX(top), v.mainIcon);
  GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_hexpand(texts, TRUE);
  v.heading = TextLabel("title-3", false);
  v.content = TextLabel(nullptr, false);
  gtk_box_append(GTK_BOX(texts), v.heading);
  gtk_box_append(GTK_BOX(texts), v.content);
  gtk_box_append(GTK_BOX(top), texts);
  gtk_box_append(GTK_BOX(body), top);

  auto connectClick = [&](GtkWidget* w, int32_t id, const char* signal) {
    v.clicks.push_back(std::make_unique<std::pair<View*, int32_t>>(&v, id));
    g_signal_connect_swapped(w, signal, G_CALLBACK(+[](std::pair<View*, int32_t>* c) {
                               ClickFrom(c->first, c->second);
                             }),
                             v.clicks.back().get());
  };

  // Command links: one boxed list of activatable rows.
  GtkWidget* list = nullptr;
  GtkWidget* firstRow = nullptr;
  for (const auto& b : d.Buttons()) {
    if (!RowsFor(d, b)) continue;
    if (!list) {
      list = gtk_list_box_new();
      gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_NONE);
      gtk_widget_add_css_class(list, "boxed-list");
      gtk_box_append(GTK_BOX(body), list);
      Relate(list, GTK_ACCESSIBLE_RELATION_LABELLED_BY, v.content);
    }
    GtkWidget* row = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), b.text.c_str());
    adw_preferences_row_set_use_underline(ADW_PREFERENCES_ROW(row), FALSE);
    if (!b.note.empty()) adw_action_row_set_subtitle(ADW_ACTION_ROW(row), b.note.c_str());
    gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), TRUE);
    GtkWidget* arrow = gtk_image_new_from_icon_name("go-next-symbolic");
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), arrow);
    if (!b.note.empty()) Describe(row, b.note);
    connectClick(row, b.id, "activated");
    gtk_list_box_append(GTK_LIST_BOX(list), row);
    v.buttons[b.id] = row;
    if (!firstRow) firstRow = row;
  }

  if (d.ProgressBar().shown) {
    v.progress = gtk_progress_bar_new();
    Relate(v.progress, GTK_ACCESSIBLE_RELATION_LABELLED_BY, v.heading);
    gtk_box_append(GTK_BOX(body), v.progress);
  }

  // The button row: the input box first (it stands left of the buttons),
  // then the buttons.
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  bool rowUsed = false;
  if (d.InputBox().present) {
    v.entry = d.InputBox().masked ? gtk_password_entry_new() : gtk_entry_new();
    gtk_widget_set_hexpand(v.entry, TRUE);
    g_object_set(v.entry, "activates-default", TRUE, nullptr);
    if (!d.InputBox().cueBanner.empty()) {
      g_object_set(v.entry, "placeholder-text", d.InputBox().cueBanner.c_str(), nullptr);
    }
    Relate(v.entry, GTK_ACCESSIBLE_RELATION_LABELLED_BY, v.content);
    g_signal_connect(v.entry, "changed", G_CALLBACK(+[](GtkEditable* e, View* view) {
                       if (view->syncing || !view->dialog || !view->dialog->Open()) return;
                       view->dialog->SetInput(gtk_editable_get_text(e));
                     }),
                     &v);
    gtk_box_append(GTK_BOX(row), v.entry);
    rowUsed = true;
  } else {
    GtkWidget* spacer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_hexpand(spacer, TRUE);
    gtk_box_append(GTK_BOX(row), spacer);
  }
  GtkWidget* defaultButton = nullptr;
  const int32_t defaultId = d.DefaultButtonId();
  for (const auto& b : d.Buttons()) {
    if (RowsFor(d, b)) continue;
    GtkWidget* button = gtk_button_new();
    GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget* shield = gtk_image_new_from_icon_name("security-high-symbolic");
    gtk_widget_set_visible(shield, b.elevated);
    gtk_box_append(GTK_BOX(inner), shield);
    GtkWidget* label = gtk_label_new(b.text.c_str());
    gtk_box_append(GTK_BOX(inner), label);
    gtk_button_set_child(GTK_BUTTON(button), inner);
    Name(button, b.text);
    g_object_set_data(G_OBJECT(button), "qv-shield", shield);
    connectClick(button, b.id, "clicked");
    if (b.id == defaultId) {
      defaultButton = button;
      if (d.InputBox().present) gtk_widget_add_css_class(button, "suggested-action");
    }
    gtk_box_append(GTK_BOX(row), button);
    v.buttons[b.id] = button;
    rowUsed = true;
  }
  if (rowUsed) gtk_box_append(GTK_BOX(body), row);
  if (defaultButton && !list) gtk_window_set_default_widget(GTK_WINDOW(v.window), defaultButton);

  // The footer, with its icon, beneath a separator.
  GtkWidget* separator = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_box_append(GTK_BOX(body), separator);
  v.footerBox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  v.footerIcon = gtk_image_new();
  gtk_widget_set_valign(v.footerIcon, GTK_ALIGN_START);
  v.footer = TextLabel(nullptr, true);
  gtk_widget_set_hexpand(v.footer, TRUE);
  gtk_box_append(GTK_BOX(v.footerBox), v.footerIcon);
  gtk_box_append(GTK_BOX(v.footerBox), v.footer);
  gtk_box_append(GTK_BOX(body), v.footerBox);
  g_object_set_data(G_OBJECT(v.footerBox), "qv-separator", separator);
  if (v.entry) Relate(v.entry, GTK_ACCESSIBLE_RELATION_DESCRIBED_BY, v.footer);
  if (v.progress) Relate(v.progress, GTK_ACCESSIBLE_RELATION_DESCRIBED_BY, v.footer);
  if (list) Relate(list, GTK_ACCESSIBLE_RELATION_DESCRIBED_BY, v.footer);

  adw_window_set_content(ADW_WINDOW(v.window), outer);

  // Escape and the close box: Cancel where the dialog allows it, else nothing.
  g_signal_connect(v.window, "close-request", G_CALLBACK(+[](GtkWindow*, View* view) -> gboolean {
                     CancelFrom(view);
                     return TRUE;  // the layer closes the window when the dialog ends
                   }),
                   &v);
  GtkEventController* keys = gtk_shortcut_controller_new();
  gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(keys), GTK_SHORTCUT_SCOPE_GLOBAL);
  GtkShortcutAction* cancel = gtk_callback_action_new(
      [](GtkWidget*, GVariant*, gpointer data) -> gboolean {
        CancelFrom(static_cast<View*>(data));
        return TRUE;
      },
      &v, nullptr);
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(keys),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, static_cast<GdkModifierType>(0)), cancel));
  gtk_widget_add_controller(v.window, keys);

  v.closingWatch = g_timeout_add(50, [](gpointer data) -> gboolean {
    auto* view = static_cast<View*>(data);
    if (view->dialog && !view->dialog->Open() && view->window) gtk_widget_set_visible(view->window, FALSE);
    return G_SOURCE_CONTINUE;
  }, &v);

  Sync(d, v);
  if (v.entry) {
    gtk_widget_grab_focus(v.entry);
  } else if (firstRow) {
    gtk_widget_grab_focus(firstRow);
  }
}

void GtkRenderer::Sync(LayerDialog& d, View& v) {
  if (v.title != d.Title() || v.title.empty()) {
    v.title = d.Title();
    gtk_window_set_title(GTK_WINDOW(v.window), v.title.c_str());
  }
  SetIcon(v.mainIcon, d.IconMain());
  SetLabel(v.heading, d.MainInstruction());
  SetLabel(v.content, d.Content());
  // A footer of blanks only keeps its place, as on the platform.
  SetLabel(v.footer, d.Footer());
  gtk_widget_set_visible(v.footer, TRUE);
  SetIcon(v.footerIcon, d.Footer().empty() ? 0 : d.IconFooter());
  const bool footer = !d.Footer().empty();
  gtk_widget_set_visible(v.footerBox, footer);
  gtk_widget_set_visible(GTK_WIDGET(g_object_get_data(G_OBJECT(v.footerBox), "qv-separator")), footer);
  if (footer && (!v.described || v.description != d.Footer())) {
    v.description = d.Footer();
    v.described = true;
    Describe(v.window, v.description);
  }

  if (v.progress) {
    const auto& p = d.ProgressBar();
    if (p.marquee) {
      gtk_progress_bar_pulse(GTK_PROGRESS_BAR(v.progress));
    } else {
      const double span = p.maximum > p.minimum ? p.maximum - p.minimum : 1;
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(v.progress), (p.position - p.minimum) / span);
    }
  }
  for (const auto& b : d.Buttons()) {
    auto it = v.buttons.find(b.id);
    if (it == v.buttons.end()) continue;
    gtk_widget_set_sensitive(it->second, b.enabled);
    if (auto* shield = g_object_get_data(G_OBJECT(it->second), "qv-shield"))
      gtk_widget_set_visible(GTK_WIDGET(shield), b.elevated);
  }
  if (v.entry && d.InputBox().present) {
    const std::string& text = d.InputBox().text;
    if (text != gtk_editable_get_text(GTK_EDITABLE(v.entry))) {
      v.syncing = true;
      gtk_editable_set_text(GTK_EDITABLE(v.entry), text.c_str());
      gtk_editable_set_position(GTK_EDITABLE(v.entry), -1);
      v.syncing = false;
    }
  }
}

void GtkRenderer::Teardown(View& v) {
  if (v.closingWatch) g_source_remove(v.closingWatch);
  v.closingWatch = 0;
  if (v.pendingSync) g_source_remove(v.pendingSync);
  v.pendingSync = 0;
  if (!v.window) return;
  v.dialog = nullptr;
  // GTK 4.8 hands an entry's text, a password entry's too, to any
  // accessibility client that asks: nothing typed stays in a closed dialog.
  if (v.entry) {
    v.syncing = true;
    gtk_editable_set_text(GTK_EDITABLE(v.entry), "");
  }
  g_signal_handlers_disconnect_matched(v.window, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, &v);
  gtk_window_destroy(GTK_WINDOW(v.window));
  g_object_unref(v.window);
  v.window = nullptr;
}

void GtkRenderer::Shown(LayerDialog& d) {
  auto v = std::make_unique<View>();
  v->order = ++shown_;
  Build(d, *v);
  gtk_window_present(GTK_WINDOW(v->window));
  views_[&d] = std::move(v);
}

void GtkRenderer::Changed(LayerDialog& d) {
  auto it = views_.find(&d);
  if (it == views_.end()) return;
  View& v = *it->second;
  if (v.pendingSync) return;
  constexpr gint64 kSyncIntervalUs = kSyncIntervalMs * 1000;
  const gint64 now = g_get_monotonic_time();
  // A dialog that waits for the user (no progress bar) follows every change
  // at once: it is what the user is reading and typing into.
  if (!v.progress || now - v.lastSyncUs >= kSyncIntervalUs) {
    v.lastSyncUs = now;
    Sync(d, v);
    return;
  }
  struct Later {
    GtkRenderer* self;
    LayerDialog* dialog;
  };
  auto* later = new Later{this, &d};
  v.pendingSync = g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>((kSyncIntervalUs - (now - v.lastSyncUs)) / 1000 + 1),
      [](gpointer data) -> gboolean {
        auto* l = static_cast<Later*>(data);
        auto found = l->self->views_.find(l->dialog);
        if (found != l->self->views_.end()) {
          View& view = *found->second;
          view.pendingSync = 0;
          view.lastSyncUs = g_get_monotonic_time();
          l->self->Sync(*l->dialog, view);
        }
        return G_SOURCE_REMOVE;
      },
      later, [](gpointer data) { delete static_cast<Later*>(data); });
}

void GtkRenderer::Ticked(LayerDialog& d) {
  auto it = views_.find(&d);
  if (it != views_.end() && it->second->progress && d.ProgressBar().marquee)
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(it->second->progress));
}

void GtkRenderer::Closed(LayerDialog& d) {
  auto it = views_.find(&d);
  if (it == views_.end()) return;
  std::unique_ptr<View> v = std::move(it->second);
  views_.erase(it);
  Teardown(*v);
}

void GtkRenderer::Navigated(LayerDialog& d) {
  auto it = views_.find(&d);
  if (it == views_.end()) return;
  const int64_t order = it->second->order;
  Teardown(*it->second);
  auto v = std::make_unique<View>();
  v->order = order;
  Build(d, *v);
  gtk_window_present(GTK_WINDOW(v->window));
  it->second = std::move(v);
}

int GtkRenderer::Question(const std::string& text, const std::string& title, uint32_t flags) {
  // Above the innermost dialog.
  GtkWindow* parent = nullptr;
  int64_t innermost = 0;
  for (auto& [d, v] : views_)
    if (v->order > innermost) {
      innermost = v->order;
      parent = GTK_WINDOW(v->window);
    }
  GtkWidget* dialog = adw_message_dialog_new(parent, title.c_str(), text.c_str());
  g_object_ref_sink(dialog);
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(dialog), "non", "Non", "oui", "Oui", nullptr);
  const bool noByDefault = flags & MB_DEFBUTTON2_;
  adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), noByDefault ? "non" : "oui");
  // Escape answers No: nothing destructive happens for want of an answer.
  adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "non");
  if (flags & MB_ICONQUESTION_) {
    GtkWidget* icon = gtk_image_new_from_icon_name("dialog-question-symbolic");
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 48);
    gtk_accessible_update_property(GTK_ACCESSIBLE(icon), GTK_ACCESSIBLE_PROPERTY_LABEL, "", -1);
    adw_message_dialog_set_extra_child(ADW_MESSAGE_DIALOG(dialog), icon);
  }
  struct Answer {
    bool done = false;
    int id = IDNO_;
  } answer;
  g_signal_connect(dialog, "response", G_CALLBACK(+[](AdwMessageDialog*, const char* response, Answer* a) {
                     a->id = g_strcmp0(response, "oui") == 0 ? IDYES_ : IDNO_;
                     a->done = true;
                   }),
                   &answer);
  gtk_window_present(GTK_WINDOW(dialog));
  while (!answer.done) Loop().ProcessEvents(EventLoop::kWaitForever);
  g_signal_handlers_disconnect_matched(dialog, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, &answer);
  gtk_window_destroy(GTK_WINDOW(dialog));
  g_object_unref(dialog);
  return answer.id;
}

void GtkRenderer::Beep(uint32_t) {
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

void InstallGtkDialogLayer(const std::string& programTitle) {
  static GtkRenderer renderer;
  static DialogLayer layer(renderer);
  layer.SetProgramTitle(programTitle);
  SetTdPlatform(&layer);
  SetPrompts(&layer);
}

}  // namespace qv
