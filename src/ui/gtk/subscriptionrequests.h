#pragma once

#include <gtk/gtk.h>

#include <map>
#include <string>

#include "base/runtime/signal.h"

namespace vexalo {

// Pending requests to see the user's status, each with Accept and Deny; hidden when none.
class SubscriptionRequests {
 public:
  SubscriptionRequests();
  ~SubscriptionRequests();
  SubscriptionRequests(const SubscriptionRequests&) = delete;
  SubscriptionRequests& operator=(const SubscriptionRequests&) = delete;

  GtkWidget* widget() const { return list_; }
  // A request from `address` (bare); a second one from the same address is not repeated.
  void Add(const std::string& address);
  void Clear();

  // address, accepted
  Signal<const std::string&, bool> SignalAnswered;

 private:
  static void OnButton(GtkButton* button, gpointer self);

  GtkWidget* list_;
  std::map<std::string, GtkWidget*> rows_;
};

}  // namespace vexalo
