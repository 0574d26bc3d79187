#include "app/productidentity.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

// Every per-user path and the window class are formed from the build's names.
TEST(ProductIdentityTest, FormsTheRegistryRootAndClassNameFromTheBuildNames) {
  const ProductIdentity identity = ProductIdentity::FromBuild();
  EXPECT_EQ(identity.RegistryRoot(), "Software\\Ombrix\\Vexalo");
  EXPECT_EQ(identity.OptionsKey(), "Software\\Ombrix\\Vexalo\\Options");
  EXPECT_EQ(identity.FlagsKey(), "Software\\Ombrix\\Vexalo\\Flags");
  EXPECT_EQ(identity.ProcessKey(), "Software\\Ombrix\\Vexalo\\Process");
  EXPECT_EQ(identity.MainWindowClassName(), "Vexalo - Ombrix Xmpp Client GUI Window");

  const ProductIdentity other{"Maker", "Thing", "Thing Pro", "1.0"};
  EXPECT_EQ(other.RegistryRoot(), "Software\\Maker\\Thing");
  EXPECT_EQ(other.MainWindowClassName(), "Thing - Ombrix Xmpp Client GUI Window");
}

}  // namespace
}  // namespace vexalo
