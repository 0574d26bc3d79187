#include "ui/gtk/subscriptionrequests.h"

namespace vexalo {
namespace {

constexpr const char* kAddressKey = "vexalo-address";
constexpr const char* kAcceptKey = "vexalo-accept";

}  // namespace

SubscriptionRequests::SubscriptionRequests() {
  list_ = gtk_list_box_new();
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(list_), GTK_SELECTION_NONE);
  gtk_widget_add_css_class(list_, "boxed-list");
  gtk_accessible_update_property(GTK_ACCESSIBLE(list_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Contact requests", -1);
  gtk_widget_set_visible(list_, FALSE);
  g_object_ref_sink(list_);
}

SubscriptionRequests::~SubscriptionRequests() {
  Clear();
  g_object_unref(list_);
}

void SubscriptionRequests::Add(const std::string& address) {
  if (rows_.count(address) != 0) return;
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_margin_start(box, 6);
  gtk_widget_set_margin_end(box, 6);
  // The address comes from the network: plain text only.
  GtkWidget* text = gtk_label_new((address + " wants to see your status").c_str());
  gtk_label_set_xalign(GTK_LABEL(text), 0);
  gtk_label_set_wrap(GTK_LABEL(text), TRUE);
  gtk_widget_set_hexpand(text, TRUE);
  gtk_box_append(GTK_BOX(box), text);
  for (bool accept : {true, false}) {
    GtkWidget* button = gtk_button_new_with_label(accept ? "Accept" : "Deny");
    const std::string description = (accept ? "Accept " : "Deny ") + address;
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   description.c_str(), -1);
    if (accept) gtk_widget_add_css_class(button, "suggested-action");
    gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
    g_object_set_data_full(G_OBJECT(button), kAddressKey, g_strdup(address.c_str()), g_free);
    g_object_set_data(G_OBJECT(button), kAcceptKey, GINT_TO_POINTER(accept ? 1 : 0));
    g_signal_connect(button, "clicked", G_CALLBACK(&SubscriptionRequests::OnButton), this);
    gtk_box_append(GTK_BOX(box), button);
  }
  gtk_list_box_append(GTK_LIST_BOX(list_), box);
  rows_[address] = gtk_widget_get_parent(box);
  gtk_widget_set_visible(list_, TRUE);
}

void SubscriptionRequests::Clear() {
  for (auto& [address, row] : rows_) gtk_list_box_remove(GTK_LIST_BOX(list_), row);
  rows_.clear();
  gtk_widget_set_visible(list_, FALSE);
}

void SubscriptionRequests::OnButton(GtkButton* button, gpointer data) {
  auto* self = static_cast<SubscriptionRequests*>(data);
  const std::string address =
      static_cast<const char*>(g_object_get_data(G_OBJECT(button), kAddressKey));
  const bool accept = g_object_get_data(G_OBJECT(button), kAcceptKey) != nullptr;
  auto found = self->rows_.find(address);
  if (found != self->rows_.end()) {
    gtk_list_box_remove(GTK_LIST_BOX(self->list_), found->second);
    self->rows_.erase(found);
  }
  gtk_widget_set_visible(self->list_, !self->rows_.empty());
  self->SignalAnswered(address, accept);
}

}  // namespace vexalo
