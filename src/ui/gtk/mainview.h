#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "ui/gtk/avatarpictures.h"
#include "ui/gtk/contactlistmodel.h"
#include "ui/gtk/contactlistview.h"
#include "ui/gtk/statusbox.h"
#include "ui/gtk/subscriptionrequests.h"

namespace vexalo {

class AddContactDialog;
class AvatarManager;
class SharedStatusHistory;
class ChatSession;
class PhoneApp;
struct ChatMessage;

// The signed-in page: own status, new mail, contact requests and the contact list with add
// and remove. Follows the session that PhoneApp starts and ends.
class MainView : public SlotHost {
 public:
  // `menu` is the primary menu for the header bar.
  MainView(PhoneApp* app, GMenuModel* menu);
  ~MainView() override;
  MainView(const MainView&) = delete;
  MainView& operator=(const MainView&) = delete;

  GtkWidget* widget() const { return page_; }
  ContactListModel* contacts() { return &contacts_; }
  StatusBox* status_box() { return &status_; }

  // A message or typing notice arrived (for a front end's notifications too).
  Signal<const ChatMessage&> SignalMessage;
  Signal<const std::string&> SignalSubscriptionRequest;
  Signal<int> SignalMail;
  // The user opened a contact from the list (its bare address).
  Signal<const std::string&> SignalOpenChat;

 private:
  void OnSessionStarted(ChatSession* session);
  void OnSessionEnded();
  void StartPictures(ChatSession* session);
  void OnMessage(const ChatMessage& message);
  void OnMail(int count);
  void AddContact();
  void RemoveSelected();
  static void OnAddClicked(GtkButton* button, gpointer self);
  static void OnRemoveClicked(GtkButton* button, gpointer self);
  static void OnMailClicked(GtkButton* button, gpointer self);

  PhoneApp* app_;
  ContactListModel contacts_;
  ContactListView list_;
  StatusBox status_;
  SubscriptionRequests requests_;
  GtkWidget* page_;
  GtkWidget* mail_;
  GtkWidget* mail_button_;
  GtkWidget* add_;
  GtkWidget* remove_;
  std::unique_ptr<AddContactDialog> add_dialog_;
  AvatarPictures pictures_;
  // Per session; null without a picture cache.
  std::unique_ptr<AvatarManager> avatars_;
  std::unique_ptr<SharedStatusHistory> status_history_;
};

}  // namespace vexalo
