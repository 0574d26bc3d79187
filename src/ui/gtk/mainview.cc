#include "ui/gtk/mainview.h"

#include <adwaita.h>

#include "app/avatarmanager.h"
#include "app/chatsession.h"
#include "app/linux/phonewindow.h"
#include "app/phoneapp.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/sharedstatushistory.h"
#include "app/webmailpages.h"
#include "ui/gtk/addcontactdialog.h"
#include "xmpp/messages/chatmessage.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {

MainView::MainView(PhoneApp* app, GMenuModel* menu)
    : app_(app), list_(&contacts_), pictures_(AvatarPictures::DefaultFolder()) {
  list_.SetPictures(&pictures_);
  GtkWidget* header = adw_header_bar_new();
  add_ = gtk_button_new_from_icon_name("list-add-symbolic");
  gtk_widget_set_tooltip_text(add_, "Add Contact");
  gtk_accessible_update_property(GTK_ACCESSIBLE(add_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Add Contact", -1);
  remove_ = gtk_button_new_from_icon_name("list-remove-symbolic");
  gtk_widget_set_tooltip_text(remove_, "Remove Contact");
  gtk_accessible_update_property(GTK_ACCESSIBLE(remove_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Remove Contact", -1);
  adw_header_bar_pack_start(ADW_HEADER_BAR(header), add_);
  adw_header_bar_pack_start(ADW_HEADER_BAR(header), remove_);
  GtkWidget* menu_button = gtk_menu_button_new();
  gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menu_button), "open-menu-symbolic");
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menu_button), menu);
  // F10 opens it.
  gtk_menu_button_set_primary(GTK_MENU_BUTTON(menu_button), TRUE);
  gtk_accessible_update_property(GTK_ACCESSIBLE(menu_button), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Main Menu", -1);
  adw_header_bar_pack_end(ADW_HEADER_BAR(header), menu_button);
  mail_ = gtk_label_new(nullptr);
  gtk_widget_add_css_class(mail_, "accent");
  gtk_widget_set_visible(mail_, FALSE);
  // The count is a button that opens the web-mail inbox.
  mail_button_ = gtk_button_new();
  gtk_button_set_child(GTK_BUTTON(mail_button_), mail_);
  gtk_widget_add_css_class(mail_button_, "flat");
  gtk_widget_set_tooltip_text(mail_button_, "Open Web Mail");
  gtk_widget_set_visible(mail_button_, FALSE);
  adw_header_bar_pack_end(ADW_HEADER_BAR(header), mail_button_);

  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  for (auto margin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                      gtk_widget_set_margin_start, gtk_widget_set_margin_end}) {
    margin(body, 6);
  }
  gtk_box_append(GTK_BOX(body), status_.widget());
  gtk_box_append(GTK_BOX(body), requests_.widget());
  gtk_box_append(GTK_BOX(body), list_.widget());
  GtkWidget* clamp = adw_clamp_new();
  adw_clamp_set_maximum_size(ADW_CLAMP(clamp), 600);
  adw_clamp_set_child(ADW_CLAMP(clamp), body);
  gtk_widget_set_vexpand(clamp, TRUE);

  page_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(page_), header);
  gtk_box_append(GTK_BOX(page_), clamp);
  g_object_ref_sink(page_);

  g_signal_connect(add_, "clicked", G_CALLBACK(&MainView::OnAddClicked), this);
  g_signal_connect(remove_, "clicked", G_CALLBACK(&MainView::OnRemoveClicked), this);
  g_signal_connect(mail_button_, "clicked", G_CALLBACK(&MainView::OnMailClicked), this);
  status_.SignalChanged.Connect(this, [this](ShowState show, bool invisible, const std::string& text) {
    if (ChatSession* session = app_->session()) session->SetStatus(show, invisible, text);
    if (status_history_ != nullptr) status_history_->Record(show, invisible, text);
  });
  requests_.SignalAnswered.Connect(this, [this](const std::string& address, bool accept) {
    ChatSession* session = app_->session();
    if (session == nullptr) return;
    if (accept) {
      session->AcceptSubscription(XmppAddress(address));
    } else {
      session->DenySubscription(XmppAddress(address));
    }
  });
  app_->SignalSessionStarted.Connect(this, &MainView::OnSessionStarted);
  list_.SignalActivated.Connect(this, [this](const std::string& address) { SignalOpenChat(address); });
  app_->SignalSessionEnded.Connect(this, &MainView::OnSessionEnded);
}

MainView::~MainView() {
  g_signal_handlers_disconnect_by_data(add_, this);
  g_signal_handlers_disconnect_by_data(remove_, this);
  g_signal_handlers_disconnect_by_data(mail_button_, this);
  g_object_unref(page_);
}

void MainView::OnSessionStarted(ChatSession* session) {
  contacts_.Clear();
  requests_.Clear();
  status_.Reset();
  OnMail(0);
  for (const auto& [address, item] : session->roster()) contacts_.SetRosterItem(item);
  for (const auto& [address, presence] : session->presences()) contacts_.SetPresence(presence);
  session->SignalRosterItem.Connect(
      this, [this](const RosterItem& item) { contacts_.SetRosterItem(item); });
  session->SignalRosterRemoved.Connect(
      this, [this](const XmppAddress& address) { contacts_.Remove(address); });
  session->SignalPresence.Connect(
      this, [this](const PresenceStatus& status) { contacts_.SetPresence(status); });
  session->SignalMessage.Connect(this, &MainView::OnMessage);
  session->SignalSubscription.Connect(
      this, [this](const XmppAddress& from, const std::string& kind) {
        if (kind != "subscribe") return;
        const std::string address = from.WithoutResource().ToString();
        requests_.Add(address);
        SignalSubscriptionRequest(address);
      });
  session->SignalMail.Connect(this, &MainView::OnMail);
  StartPictures(session);
  status_.SetHistory({});
  status_history_ = std::make_unique<SharedStatusHistory>(app_->connection());
  status_history_->SignalChanged.Connect(
      this, [this] { status_.SetHistory(status_history_->Recent()); });
}

void MainView::StartPictures(ChatSession* session) {
  const XmppAddress self = app_->bound_address().WithoutResource();
  avatars_.reset();
  status_.SetPicture(self.ToString(), nullptr, {});
  // "Show pictures" off: every contact gets the default picture.
  const bool show = app_->settings() == nullptr || app_->settings()->Current().show_avatars;
  list_.SetPictures(show ? &pictures_ : nullptr);
  if (pictures_.cache() == nullptr || app_->connection() == nullptr) return;
  avatars_ = std::make_unique<AvatarManager>(app_->connection(), pictures_.cache(), self);
  for (const auto& [address, item] : session->roster()) {
    contacts_.SetPicture(address, avatars_->HashOf(address));
  }
  for (const auto& [address, presence] : session->presences()) avatars_->OnPresence(presence);
  session->SignalPresence.Connect(
      this, [this](const PresenceStatus& status) { avatars_->OnPresence(status); });
  session->SignalRosterItem.Connect(this, [this](const RosterItem& item) {
    contacts_.SetPicture(item.address, avatars_->HashOf(item.address));
  });
  avatars_->SignalPicture.Connect(this, [this](const XmppAddress& contact, const std::string& hash) {
    contacts_.SetPicture(contact, hash);
  });
  avatars_->SignalOwnPicture.Connect(this, [this, self](const std::string& hash) {
    status_.SetPicture(self.ToString(), &pictures_, hash);
    // Announced with the next presence; our card is the one we just read.
    if (ChatSession* current = app_->session()) current->SetPictureHash(hash);
  });
  status_.SetPicture(self.ToString(), &pictures_, avatars_->own_hash());
  avatars_->RequestOwn();
}

void MainView::OnSessionEnded() {
  add_dialog_.reset();
  avatars_.reset();
  status_history_.reset();
  status_.SetHistory({});
  contacts_.Clear();
  requests_.Clear();
}

void MainView::OnMessage(const ChatMessage& message) {
  if (message.chat_state != ChatState::kNone) {
    contacts_.SetTyping(message.from, message.chat_state == ChatState::kComposing);
  } else if (message.has_body) {
    contacts_.SetTyping(message.from, false);
  }
  SignalMessage(message);
}

void MainView::OnMail(int count) {
  const std::string text = std::to_string(count) + (count == 1 ? " new mail" : " new mails");
  gtk_label_set_text(GTK_LABEL(mail_), text.c_str());
  gtk_widget_set_visible(mail_, count > 0);
  gtk_widget_set_visible(mail_button_, count > 0);
  if (count > 0) SignalMail(count);
}

void MainView::AddContact() {
  GtkRoot* root = gtk_widget_get_root(page_);
  add_dialog_ = std::make_unique<AddContactDialog>(
      root != nullptr ? GTK_WINDOW(root) : nullptr,
      [this](const std::string& address, const std::string& text) {
        const XmppAddress contact(address);
        ChatSession* session = app_->session();
        if (session != nullptr && contact.IsValid()) session->AddContact(contact, text);
      });
}

void MainView::RemoveSelected() {
  const std::string address = list_.SelectedAddress();
  ChatSession* session = app_->session();
  if (session != nullptr && !address.empty()) session->RemoveContact(XmppAddress(address));
}

void MainView::OnMailClicked(GtkButton*, gpointer self) {
  auto* view = static_cast<MainView*>(self);
  const WebMailPages pages(view->app_->window()->profile(), view->app_->bound_address());
  const std::string inbox = pages.Base();
  GtkRoot* root = gtk_widget_get_root(view->page_);
  // The desktop's URI handler starts the browser without blocking this thread.
  if (inbox.empty()) return;
  gtk_show_uri(root != nullptr ? GTK_WINDOW(root) : nullptr, inbox.c_str(), GDK_CURRENT_TIME);
}

void MainView::OnAddClicked(GtkButton*, gpointer self) { static_cast<MainView*>(self)->AddContact(); }

void MainView::OnRemoveClicked(GtkButton*, gpointer self) {
  static_cast<MainView*>(self)->RemoveSelected();
}

}  // namespace vexalo
