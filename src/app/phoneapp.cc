#include "app/phoneapp.h"

#include "app/settings.h"
#include "base/logging.h"

namespace vexalo {

PhoneApp::PhoneApp(PhoneWindow* window, SettingsStore* settings)
    : window_(window), settings_(settings) {
  LOG(kVerbose) << "PhoneApp::PhoneApp";
}

PhoneApp::~PhoneApp() { LOG(kVerbose) << "PhoneApp::~PhoneApp"; }

void PhoneApp::OnUserSettingsChanged(const Settings&, const Settings&) {
  if (!IsSignedIn()) return;
}

}  // namespace vexalo
