#pragma once

#include <optional>
#include <string_view>

#include "platform/regvalue.h"

namespace vexalo {

// The few operations that reading and writing options need of one registry key, so that the
// same reader and writer run against any key.
class RegKey {
 public:
  virtual ~RegKey() = default;
  virtual std::optional<RegValue> QueryValue(std::string_view name) const = 0;
  // False when the name or the value breaks the registry's limits.
  virtual bool SetValue(std::string_view name, const RegValue& value) = 0;
  // False when there was no such value.
  virtual bool DeleteValue(std::string_view name) = 0;
};

}  // namespace vexalo
