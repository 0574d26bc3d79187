#include "ui/gtk/trayicon.h"

#include <iterator>

#include "ui/gtk/statusbox.h"

namespace vexalo {
namespace {

struct StatusChoice {
  const char* label;
  const char* text;
  ShowState show;
  bool invisible;
};

constexpr StatusChoice kChoices[] = {{"_Available", "Available", ShowState::kOnline, false},
                                     {"A_way", "Away", ShowState::kAway, false},
                                     {"_Busy", "Busy", ShowState::kDnd, false},
                                     {"_Invisible", "Invisible", ShowState::kOnline, true}};

}  // namespace

TrayIcon::TrayIcon(GtkWindow* window, StatusBox* status, std::function<void()> quit)
    : window_(window), status_(status), item_("im.vexalo.Vexalo", "Vexalo", "im.vexalo.Vexalo") {
  DBusMenu* menu = item_.menu();
  show_item_ = menu->AddItem("_Hide Vexalo", [this] { ToggleWindow(); });
  menu->AddSeparator();
  for (size_t i = 0; i < std::size(kChoices); ++i) {
    const StatusChoice& choice = kChoices[i];
    status_items_[i] = menu->AddRadio(
        choice.label, [this, choice] { status_->Choose(choice.show, choice.invisible); });
  }
  menu->SetChecked(status_items_[0], true);
  menu->AddSeparator();
  menu->AddItem("_Quit", std::move(quit));
  item_.SetToolTip(kChoices[0].text);
  item_.SignalActivate.Connect(this, &TrayIcon::ToggleWindow);
  status_->SignalChanged.Connect(this, &TrayIcon::OnStatus);
  g_signal_connect(window_, "notify::visible", G_CALLBACK(&TrayIcon::OnVisible), this);
}

TrayIcon::~TrayIcon() { g_signal_handlers_disconnect_by_data(window_, this); }

void TrayIcon::ToggleWindow() {
  if (gtk_widget_get_visible(GTK_WIDGET(window_))) {
    gtk_widget_set_visible(GTK_WIDGET(window_), FALSE);
  } else {
    gtk_window_present(window_);
  }
}

void TrayIcon::OnVisible(GObject*, GParamSpec*, gpointer self) {
  auto* tray = static_cast<TrayIcon*>(self);
  const bool visible = gtk_widget_get_visible(GTK_WIDGET(tray->window_));
  tray->item_.menu()->SetLabel(tray->show_item_, visible ? "_Hide Vexalo" : "_Show Vexalo");
}

void TrayIcon::OnStatus(ShowState show, bool invisible, const std::string& text) {
  size_t chosen = 0;
  for (size_t i = 0; i < std::size(kChoices); ++i) {
    if (kChoices[i].invisible == invisible && (invisible || kChoices[i].show == show)) chosen = i;
  }
  for (size_t i = 0; i < std::size(kChoices); ++i) {
    item_.menu()->SetChecked(status_items_[i], i == chosen);
  }
  const std::string tip =
      text.empty() ? kChoices[chosen].text : std::string(kChoices[chosen].text) + ": " + text;
  item_.SetToolTip(tip);
}

}  // namespace vexalo
