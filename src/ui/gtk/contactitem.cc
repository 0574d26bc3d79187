#include "ui/gtk/contactitem.h"

namespace vexalo {

void ContactData::UpdateKeys() {
  const std::string both = name + "\n" + address;
  gchar* folded = g_utf8_casefold(both.c_str(), static_cast<gssize>(both.size()));
  search_key = folded;
  g_free(folded);
  gchar* key = g_utf8_collate_key_for_filename(DisplayName().c_str(), -1);
  sort_key = key;
  g_free(key);
  sort_key += '\1';
  sort_key += address;
}

const char* PresenceText(ContactData::Presence presence) {
  switch (presence) {
    case ContactData::Presence::kAvailable:
      return "Available";
    case ContactData::Presence::kAway:
      return "Away";
    case ContactData::Presence::kBusy:
      return "Busy";
    case ContactData::Presence::kOffline:
      break;
  }
  return "Offline";
}

}  // namespace vexalo

struct _VexaloContactItem {
  GObject parent_instance;
  vexalo::ContactData* data;
};

G_DEFINE_FINAL_TYPE(VexaloContactItem, vexalo_contact_item, G_TYPE_OBJECT)

static void vexalo_contact_item_finalize(GObject* object) {
  delete VEXALO_CONTACT_ITEM(object)->data;
  G_OBJECT_CLASS(vexalo_contact_item_parent_class)->finalize(object);
}

static void vexalo_contact_item_class_init(VexaloContactItemClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = vexalo_contact_item_finalize;
}

static void vexalo_contact_item_init(VexaloContactItem* self) {
  self->data = new vexalo::ContactData();
}

VexaloContactItem* vexalo_contact_item_new(const std::string& address) {
  auto* item = static_cast<VexaloContactItem*>(g_object_new(VEXALO_TYPE_CONTACT_ITEM, nullptr));
  item->data->address = address;
  item->data->UpdateKeys();
  return item;
}

vexalo::ContactData* vexalo_contact_item_data(VexaloContactItem* item) { return item->data; }
