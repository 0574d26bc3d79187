#include "app/productidentity.h"

#include "app/productversion.h"

namespace vexalo {

ProductIdentity ProductIdentity::FromBuild() {
  return ProductIdentity{VEXALO_COMPANY_NAME, VEXALO_INTERNAL_NAME, VEXALO_PRODUCT_NAME,
                         VEXALO_VERSION};
}

std::string ProductIdentity::RegistryRoot() const {
  return "Software\\" + company + "\\" + internal_name;
}

std::string ProductIdentity::MainWindowClassName() const {
  return internal_name + std::string(kMainWindowClassSuffix);
}

}  // namespace vexalo
