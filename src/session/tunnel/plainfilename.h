#pragma once

#include <string>
#include <string_view>

namespace vexalo {

// A name from the network reduced to a plain file name that is safe to create in a folder of
// the user's choice: its last path component only, without control characters, leading dots
// or spaces, at most kMaxFileNameBytes long (cut at a character boundary, keeping a short
// extension). Never empty: a name with nothing left becomes kFallbackFileName.
inline constexpr size_t kMaxFileNameBytes = 200;
inline constexpr std::string_view kFallbackFileName = "received-file";

std::string PlainFileName(std::string_view network_name);

}  // namespace vexalo
