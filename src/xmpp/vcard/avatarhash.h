#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexalo {

// The largest picture we accept, from the network or from disk. A vCard photo of more bytes is
// treated as absent; the cache refuses to store or load it.
inline constexpr size_t kMaxAvatarBytes = 512 * 1024;

// The SHA-1 of the picture bytes as 40 lower-case hexadecimal digits: the picture's name in
// presence (vcard-temp:x:update), in vCard requests and in the cache.
std::string AvatarHash(std::string_view bytes);

// Whether `text` is exactly 40 hexadecimal digits (either case). Hashes from the network are
// used as file names only when this holds.
bool IsAvatarHash(std::string_view text);

// `text` in lower case when it is a hash, otherwise empty.
std::string NormalizeAvatarHash(std::string_view text);

}  // namespace vexalo
