#include "app/settings.h"

namespace vexalo {

WindowRect WindowRectForSave(WindowRect rect) {
  if (rect.width() < kMinWindowWidth) rect.right = rect.left + kMinWindowWidth;
  if (rect.height() < kMinWindowHeight) rect.bottom = rect.top + kMinWindowHeight;
  return rect;
}

WindowRect WindowRectForRestore(const WindowRect& stored, const WindowRect& nearest_work_area,
                                const WindowRect& primary_work_area) {
  const bool large_enough =
      stored.width() >= kMinWindowWidth && stored.height() >= kMinWindowHeight;
  const bool inside =
      stored.left >= nearest_work_area.left && stored.top >= nearest_work_area.top &&
      stored.right <= nearest_work_area.right && stored.bottom <= nearest_work_area.bottom;
  if (large_enough && inside) return stored;
  return WindowRect{primary_work_area.right - kDefaultWindowWidth, primary_work_area.top,
                    primary_work_area.right, primary_work_area.top + kDefaultWindowHeight};
}

std::vector<FirewallRule> FirewallRulesFor(int32_t option, const std::string& host, int32_t port) {
  const FirewallRule base{0, 0, 2, "", 0};
  switch (option) {
    case 1:
      return {base};
    case 2:
      return {base, {0, 1, 0, "", 0}};
    case 3:
      return {base, {1, 1, 1, "", 80}, {1, 1, 1, "", 443}, {0, 1, 2, "", 0}};
    case 4:
      return {base, {1, 1, 1, host, port}, {0, 1, 2, "", 0}};
    default:
      return {};
  }
}

}  // namespace vexalo
