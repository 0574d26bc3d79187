#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xmpp/vcard/avatarrenderer.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// Contacts' pictures on disk, named by the SHA-1 of their bytes, in a folder given by the
// application (created private to the user):
//   HASH.original.avatar  the picture as received or chosen
//   HASH.online.avatar    a 32x32 rendition (PNG, or 32-bit BMP when PNG encoding fails)
//   avatars.txt           pairs of lines: contact address, hash of its picture
//   ADDRESS.mru.txt       hashes of the user's recently used own pictures
// Only strings of exactly 40 hex digits are ever used as file names. Also counts failed vCard
// requests per hash for the session, so that a picture nobody can deliver is not asked for
// again and again. Picture bytes never reach the log: size and hash only.
class AvatarCache {
 public:
  static constexpr int kOnlineSize = 32;
  // Requests for one hash allowed to fail before no more are made.
  static constexpr int kMaxFailures = 3;
  static constexpr size_t kMaxRecent = 26;
  static constexpr const char* kIndexFile = "avatars.txt";
  // Bounds for the text files, which other programs could have written.
  static constexpr size_t kMaxIndexFileBytes = 4 * 1024 * 1024;
  static constexpr size_t kMaxRecentFileBytes = 64 * 1024;

  // Contact address (bare, as text) to picture hash.
  using Index = std::map<std::string, std::string>;

  // `renderer` may be null: then no renditions are made. Not owned.
  AvatarCache(std::string folder, AvatarRenderer* renderer);

  // Creates the folder (and missing parents) with mode 0700. False when it cannot.
  bool Open();
  const std::string& folder() const { return folder_; }

  // Stores the picture and its rendition; returns its hash, or empty when the picture is
  // larger than kMaxAvatarBytes or the original cannot be written.
  std::string StoreOriginal(std::string_view bytes);
  // The stored bytes, or empty when missing, unreadable, too large or `hash` is not a hash.
  std::string LoadOriginal(std::string_view hash) const;
  std::string LoadOnline(std::string_view hash) const;
  bool HasOriginal(std::string_view hash) const;

  // Whether a vCard request for the picture is still worth making this session.
  bool ShouldRequest(std::string_view hash) const;
  void RecordFailure(std::string_view hash);

  // Reads pairs of lines until the first incomplete pair; pairs with an address or hash
  // that does not parse are skipped.
  Index LoadIndex() const;
  bool SaveIndex(const Index& index) const;

  // Up to kMaxRecent hashes for the account's own pictures; empty when the file is missing or
  // holds anything but hashes (the application then fills the list afresh).
  std::vector<std::string> LoadRecent(const XmppAddress& account) const;
  bool SaveRecent(const XmppAddress& account, const std::vector<std::string>& hashes) const;

  // Deletes every stored picture (and its rendition) whose hash is in neither list. Returns
  // the number of pictures deleted.
  int Cleanup(const Index& index, const std::vector<std::string>& recent) const;

  // An uncompressed 32-bit bottom-up BMP of the pixels (0xAARRGGBB, rows top to bottom).
  static std::string EncodeBmp(const std::vector<uint32_t>& pixels, int width, int height);

 private:
  std::string PathOf(std::string_view name) const;
  std::string RecentFileName(const XmppAddress& account) const;
  bool WriteFile(std::string_view name, std::string_view bytes) const;
  // False when missing, unreadable or larger than `max_bytes`.
  bool ReadFile(std::string_view name, size_t max_bytes, std::string* bytes) const;
  void StoreOnline(const std::string& hash, std::string_view bytes);

  std::string folder_;
  AvatarRenderer* renderer_;
  std::unordered_map<std::string, int> failures_;
};

}  // namespace vexalo
