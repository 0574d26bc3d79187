#include "ui/gtk/chatwindow.h"

#include <adwaita.h>

#include <cstdlib>

namespace vexalo {
namespace {

std::string TypingText(const std::string& name, ChatState state) {
  switch (state) {
    case ChatState::kComposing:
      return name + " is typing…";
    case ChatState::kPaused:
      return name + " has stopped typing";
    case ChatState::kGone:
      return name + " has left the conversation";
    default:
      return "";
  }
}

void Label(GtkWidget* widget, const char* text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, text, -1);
}

}  // namespace

ChatWindow::ChatWindow(const std::string& contact, const std::string& own_name,
                       const Options& options, ChatThemeFolders folders)
    : contact_(contact), contact_name_(contact), own_name_(own_name), view_(std::move(folders)) {
  window_ = adw_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window_), 520, 560);
  gtk_window_set_icon_name(GTK_WINDOW(window_), "im.vexalo.Vexalo");
  g_object_ref_sink(window_);

  GtkWidget* header = adw_header_bar_new();
  GtkWidget* heading = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  avatar_ = adw_avatar_new(28, contact.c_str(), TRUE);
  title_ = adw_window_title_new(contact.c_str(), "");
  gtk_box_append(GTK_BOX(heading), avatar_);
  gtk_box_append(GTK_BOX(heading), title_);
  adw_header_bar_set_title_widget(ADW_HEADER_BAR(header), heading);
  if (options.view_source) {
    GMenu* menu = g_menu_new();
    g_menu_append(menu, "View _Source", "chat.view-source");
    GtkWidget* menu_button = gtk_menu_button_new();
    menu_button_ = menu_button;
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menu_button), "open-menu-symbolic");
    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menu_button), G_MENU_MODEL(menu));
    gtk_menu_button_set_primary(GTK_MENU_BUTTON(menu_button), TRUE);
    Label(menu_button, "Conversation Menu");
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), menu_button);
    g_object_unref(menu);
    GSimpleActionGroup* actions = g_simple_action_group_new();
    GSimpleAction* action = g_simple_action_new("view-source", nullptr);
    g_signal_connect(action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer self) {
                       auto* window = static_cast<ChatWindow*>(self);
                       // Activated from elsewhere than the menu (keyboard, accessibility), the
                       // menu would stay open.
                       gtk_menu_button_popdown(GTK_MENU_BUTTON(window->menu_button_));
                       window->view_.ViewSource();
                     }),
                     this);
    g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(action));
    g_object_unref(action);
    gtk_widget_insert_action_group(window_, "chat", G_ACTION_GROUP(actions));
    g_object_unref(actions);
    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(shortcuts), GTK_SHORTCUT_SCOPE_GLOBAL);
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(shortcuts),
        gtk_shortcut_new(gtk_shortcut_trigger_parse_string("<Control>u"),
                         gtk_named_action_new("chat.view-source")));
    gtk_widget_add_controller(window_, shortcuts);
  }

  typing_ = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(typing_), 0);
  gtk_widget_add_css_class(typing_, "dim-label");
  gtk_widget_add_css_class(typing_, "caption");
  gtk_widget_set_margin_start(typing_, 8);
  gtk_widget_set_visible(typing_, FALSE);

  entry_ = gtk_text_view_new();
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(entry_), GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(entry_), FALSE);
  for (auto margin : {gtk_text_view_set_top_margin, gtk_text_view_set_bottom_margin,
                      gtk_text_view_set_left_margin, gtk_text_view_set_right_margin}) {
    margin(GTK_TEXT_VIEW(entry_), 6);
  }
  Label(entry_, "Message");
  GtkWidget* scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), entry_);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  // One line at first, up to about six as the text grows.
  gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), 120);
  gtk_widget_set_hexpand(scroller, TRUE);
  gtk_widget_add_css_class(scroller, "card");
  send_ = gtk_button_new_from_icon_name("mail-send-symbolic");
  gtk_widget_set_tooltip_text(send_, "Send");
  Label(send_, "Send");
  gtk_widget_set_valign(send_, GTK_ALIGN_END);
  gtk_widget_add_css_class(send_, "suggested-action");
  gtk_widget_add_css_class(send_, "circular");
  GtkWidget* entry_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  for (auto margin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                      gtk_widget_set_margin_start, gtk_widget_set_margin_end}) {
    margin(entry_row, 6);
  }
  gtk_box_append(GTK_BOX(entry_row), scroller);
  gtk_box_append(GTK_BOX(entry_row), send_);

  GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(page), header);
  gtk_box_append(GTK_BOX(page), view_.widget());
  gtk_box_append(GTK_BOX(page), typing_);
  gtk_box_append(GTK_BOX(page), entry_row);
  adw_window_set_content(ADW_WINDOW(window_), page);

  GtkEventController* keys = gtk_event_controller_key_new();
  // Before the text view inserts the new line.
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(&ChatWindow::OnKey), this);
  gtk_widget_add_controller(entry_, keys);
  g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(entry_)), "changed",
                   G_CALLBACK(&ChatWindow::OnBufferChanged), this);
  g_signal_connect(send_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                     static_cast<ChatWindow*>(self)->Send();
                   }),
                   this);
  g_signal_connect(window_, "close-request", G_CALLBACK(&ChatWindow::OnCloseRequest), this);

  view_.SetTheme(options.theme);
  if (options.font_pixels > 0) view_.SetFont(options.font_face, options.font_pixels);
  SetContact(contact, "Offline", "", "");
  gtk_widget_grab_focus(entry_);
}

ChatWindow::~ChatWindow() {
  if (paused_timer_ != 0) g_source_remove(paused_timer_);
  g_signal_handlers_disconnect_by_data(gtk_text_view_get_buffer(GTK_TEXT_VIEW(entry_)), this);
  g_signal_handlers_disconnect_by_data(send_, this);
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_window_destroy(GTK_WINDOW(window_));
  g_object_unref(window_);
}

void ChatWindow::Present() { gtk_window_present(GTK_WINDOW(window_)); }

void ChatWindow::SetContact(const std::string& name, const std::string& presence,
                            const std::string& status, const std::string& picture_path) {
  contact_name_ = name.empty() ? contact_ : name;
  gtk_window_set_title(GTK_WINDOW(window_), contact_name_.c_str());
  adw_window_title_set_title(ADW_WINDOW_TITLE(title_), contact_name_.c_str());
  const std::string subtitle = status.empty() ? presence : presence + " — " + status;
  adw_window_title_set_subtitle(ADW_WINDOW_TITLE(title_), subtitle.c_str());
  adw_avatar_set_text(ADW_AVATAR(avatar_), contact_name_.c_str());
  if (picture_path != contact_picture_) {
    contact_picture_ = picture_path;
    GdkTexture* texture = nullptr;
    if (!picture_path.empty()) texture = gdk_texture_new_from_filename(picture_path.c_str(), nullptr);
    adw_avatar_set_custom_image(ADW_AVATAR(avatar_), GDK_PAINTABLE(texture));
    if (texture != nullptr) g_object_unref(texture);
  }
}

void ChatWindow::ShowIncoming(const std::string& text, std::time_t time) {
  std::string picture;
  if (!contact_picture_.empty()) {
    gchar* uri = g_filename_to_uri(contact_picture_.c_str(), nullptr, nullptr);
    if (uri != nullptr) picture = uri;
    g_free(uri);
  }
  view_.AddMessage({contact_name_, picture, 1}, text, time, false);
  // A message ends the contact's typing.
  ShowChatState(ChatState::kActive);
}

void ChatWindow::ShowOutgoing(const std::string& text, std::time_t time) {
  view_.AddMessage({own_name_, "", 0}, text, time, true);
}

void ChatWindow::ShowSystem(const std::string& text, std::time_t time) {
  view_.AddStatus(text, time);
}

void ChatWindow::ShowChatState(ChatState state) {
  const std::string text = TypingText(contact_name_, state);
  gtk_label_set_text(GTK_LABEL(typing_), text.c_str());
  gtk_widget_set_visible(typing_, !text.empty());
}

gboolean ChatWindow::OnKey(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                           gpointer self) {
  if (keyval != GDK_KEY_Return && keyval != GDK_KEY_KP_Enter && keyval != GDK_KEY_ISO_Enter) {
    return FALSE;
  }
  // Shift+Enter is a new line, as the text view does it.
  if ((state & GDK_SHIFT_MASK) != 0) return FALSE;
  static_cast<ChatWindow*>(self)->Send();
  return TRUE;
}

void ChatWindow::Send() {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(entry_));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  std::string message = text;
  g_free(text);
  gchar* copy = g_strdup(message.c_str());
  const bool blank = *g_strstrip(copy) == '\0';
  g_free(copy);
  if (blank) return;
  // Our state goes with the message: no separate "active" notice.
  if (paused_timer_ != 0) g_source_remove(paused_timer_);
  paused_timer_ = 0;
  own_state_ = ChatState::kActive;
  gtk_text_buffer_set_text(buffer, "", 0);
  SignalSend(message);
}

void ChatWindow::SetOwnState(ChatState state) {
  if (state == own_state_) return;
  own_state_ = state;
  SignalChatState(state);
}

void ChatWindow::OnBufferChanged(GtkTextBuffer* buffer, gpointer data) {
  auto* self = static_cast<ChatWindow*>(data);
  const bool empty = gtk_text_buffer_get_char_count(buffer) == 0;
  if (self->paused_timer_ != 0) g_source_remove(self->paused_timer_);
  self->paused_timer_ = 0;
  if (empty) {
    // Cleared by sending: the message carried "active". Cleared by hand: say so.
    self->SetOwnState(ChatState::kActive);
    return;
  }
  self->SetOwnState(ChatState::kComposing);
  self->paused_timer_ = g_timeout_add_seconds(kPausedSeconds, &ChatWindow::OnPaused, self);
}

gboolean ChatWindow::OnPaused(gpointer data) {
  auto* self = static_cast<ChatWindow*>(data);
  self->paused_timer_ = 0;
  self->SetOwnState(ChatState::kPaused);
  return G_SOURCE_REMOVE;
}

gboolean ChatWindow::OnCloseRequest(GtkWindow*, gpointer data) {
  auto* self = static_cast<ChatWindow*>(data);
  self->SetOwnState(ChatState::kGone);
  self->SignalClosed();
  return TRUE;  // the owner destroys the window with this object
}

}  // namespace vexalo
