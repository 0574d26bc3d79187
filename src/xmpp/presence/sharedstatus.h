#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "xml/xmlelem.h"

namespace vexalo {

// The status the service keeps for all of the user's clients: the current message and show,
// recent messages per show, and the limits the status editor must respect. A show of
// "default" on the wire is the empty string here.
struct SharedStatus {
  // Limits used when the server leaves one out or sends something unreadable.
  static constexpr int32_t kDefaultStatusMax = 512;
  static constexpr int32_t kDefaultStatusListMax = 3;
  static constexpr int32_t kDefaultStatusListContentsMax = 5;
  // Ceilings on what a server may ask the editor (and this parser) to hold.
  static constexpr int32_t kCeilingStatusMax = 4096;
  static constexpr int32_t kCeilingStatusListMax = 32;
  static constexpr int32_t kCeilingStatusListContentsMax = 32;

  using StatusList = std::pair<std::string, std::vector<std::string>>;

  std::string status;
  std::string show;
  int32_t status_max = kDefaultStatusMax;
  int32_t status_list_max = kDefaultStatusListMax;
  int32_t status_list_contents_max = kDefaultStatusListContentsMax;
  std::vector<StatusList> lists;

  bool operator==(const SharedStatus& other) const = default;

  // Reads a <query xmlns="ombrix:shared-status"/>. Texts longer than the ceiling of
  // status-max are cut, and lists and entries beyond their ceilings are dropped.
  static SharedStatus Parse(const XmlElem& query);
  // The query element for a set.
  std::unique_ptr<XmlElem> MakeQuery() const;
};

}  // namespace vexalo
