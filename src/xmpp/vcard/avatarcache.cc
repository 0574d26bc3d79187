#include "xmpp/vcard/avatarcache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <utility>

#include "base/runtime/logging.h"
#include "xmpp/vcard/avatarhash.h"

namespace vexalo {
namespace {

constexpr std::string_view kOriginalSuffix = ".original.avatar";
constexpr std::string_view kOnlineSuffix = ".online.avatar";
constexpr std::string_view kRecentSuffix = ".mru.txt";

void PutLe16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void PutLe32(std::string& out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

// Splits at '\n', dropping a '\r' before it; a last line without '\n' counts.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool MakeFolder(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolder(path.substr(0, slash))) return false;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

AvatarCache::AvatarCache(std::string folder, AvatarRenderer* renderer)
    : folder_(std::move(folder)), renderer_(renderer) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

bool AvatarCache::Open() {
  if (folder_.empty() || !MakeFolder(folder_)) {
    LOG_ERRNO(kWarning) << "AvatarCache::Open - cannot create the picture folder";
    return false;
  }
  return true;
}

std::string AvatarCache::PathOf(std::string_view name) const {
  std::string path = folder_;
  path.push_back('/');
  path.append(name);
  return path;
}

bool AvatarCache::WriteFile(std::string_view name, std::string_view bytes) const {
  const std::string path = PathOf(name);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  size_t written = 0;
  while (ok && written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(temp.c_str());
  return ok;
}

bool AvatarCache::ReadFile(std::string_view name, size_t max_bytes, std::string* bytes) const {
  bytes->clear();
  errno = 0;
  const int fd = open(PathOf(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
            static_cast<uint64_t>(info.st_size) <= max_bytes;
  if (ok) {
    // Reads at most one byte past the limit, to notice a file that grew meanwhile.
    bytes->resize(max_bytes + 1);
    size_t total = 0;
    while (total < bytes->size()) {
      const ssize_t n = read(fd, bytes->data() + total, bytes->size() - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      total += static_cast<size_t>(n);
    }
    if (total > max_bytes) ok = false;
    bytes->resize(ok ? total : 0);
  }
  close(fd);
  // Callers tell a missing file (ENOENT) from one that is there but unusable.
  if (!ok) errno = EFBIG;
  return ok;
}

std::string AvatarCache::StoreOriginal(std::string_view bytes) {
  const std::string hash = AvatarHash(bytes);
  if (bytes.size() > kMaxAvatarBytes) {
    LOG(kWarning) << "Avatar of " << bytes.size() << " bytes with hash " << hash
                  << " is larger than " << kMaxAvatarBytes << " bytes; not stored";
    return std::string();
  }
  if (hash.empty() || !WriteFile(hash + std::string(kOriginalSuffix), bytes)) {
    LOG(kWarning) << "Avatar of " << bytes.size() << " bytes with hash " << hash
                  << " could not be saved to disk";
    return std::string();
  }
  StoreOnline(hash, bytes);
  return hash;
}

void AvatarCache::StoreOnline(const std::string& hash, std::string_view bytes) {
  if (renderer_ == nullptr) return;
  std::vector<uint32_t> pixels;
  if (!renderer_->Scale(bytes, kOnlineSize, &pixels) ||
      pixels.size() != static_cast<size_t>(kOnlineSize) * kOnlineSize) {
    LOG(kInfo) << "Avatar with hash " << hash << " (" << bytes.size()
               << " bytes) is not a picture we can read";
    return;
  }
  std::string rendition;
  if (!renderer_->EncodePng(pixels, kOnlineSize, kOnlineSize, &rendition) || rendition.empty()) {
    rendition = EncodeBmp(pixels, kOnlineSize, kOnlineSize);
  }
  if (!WriteFile(hash + std::string(kOnlineSuffix), rendition)) {
    LOG(kWarning) << "Avatar could not be saved to disk";
  }
}

std::string AvatarCache::LoadOriginal(std::string_view hash) const {
  const std::string name = NormalizeAvatarHash(hash);
  std::string bytes;
  if (name.empty()) return bytes;
  if (!ReadFile(name + std::string(kOriginalSuffix), kMaxAvatarBytes, &bytes) && errno != ENOENT) {
    LOG(kWarning) << "Avatar could not be loaded from disk";
  }
  return bytes;
}

std::string AvatarCache::LoadOnline(std::string_view hash) const {
  const std::string name = NormalizeAvatarHash(hash);
  std::string bytes;
  if (name.empty()) return bytes;
  if (!ReadFile(name + std::string(kOnlineSuffix), kMaxAvatarBytes, &bytes) && errno != ENOENT) {
    LOG(kWarning) << "Avatar could not be loaded from disk";
  }
  return bytes;
}

bool AvatarCache::HasOriginal(std::string_view hash) const {
  const std::string name = NormalizeAvatarHash(hash);
  if (name.empty()) return false;
  struct stat info;
  return stat(PathOf(name + std::string(kOriginalSuffix)).c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

bool AvatarCache::ShouldRequest(std::string_view hash) const {
  auto it = failures_.find(std::string(hash));
  if (it == failures_.end() || it->second <= kMaxFailures) return true;
  LOG(kWarning) << "Requests for avatar with hash " << PrintableText(hash, 64)
                << " have repeatedly failed.  Aborting future requests.";
  return false;
}

void AvatarCache::RecordFailure(std::string_view hash) {
  // Hashes come from presence; a flood of made-up ones must not grow the map without end.
  static constexpr size_t kMaxTracked = 10000;
  if (failures_.size() >= kMaxTracked && !failures_.contains(std::string(hash))) return;
  ++failures_[std::string(hash)];
}

AvatarCache::Index AvatarCache::LoadIndex() const {
  Index index;
  std::string text;
  if (!ReadFile(kIndexFile, kMaxIndexFileBytes, &text)) return index;
  const std::vector<std::string_view> lines = Lines(text);
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    const XmppAddress address(lines[i]);
    const std::string hash = NormalizeAvatarHash(lines[i + 1]);
    if (!address.IsValid() || hash.empty()) continue;
    index[address.ToString()] = hash;
  }
  return index;
}

bool AvatarCache::SaveIndex(const Index& index) const {
  std::string text;
  for (const auto& [address, hash] : index) {
    // A line break in either would shift every pair after it.
    if (address.find_first_of("\r\n") != std::string::npos || !IsAvatarHash(hash)) continue;
    text.append(address).append("\n").append(hash).append("\n");
  }
  return WriteFile(kIndexFile, text);
}

std::string AvatarCache::RecentFileName(const XmppAddress& account) const {
  const std::string address = account.WithoutResource().ToString();
  // A bare address holds no '/', but the file name must not leave the folder whatever it is.
  if (address.empty() || address.front() == '.' || address.find('/') != std::string::npos) {
    return std::string();
  }
  return address + std::string(kRecentSuffix);
}

std::vector<std::string> AvatarCache::LoadRecent(const XmppAddress& account) const {
  std::vector<std::string> hashes;
  const std::string name = RecentFileName(account);
  std::string text;
  if (name.empty() || !ReadFile(name, kMaxRecentFileBytes, &text)) return hashes;
  for (std::string_view line : Lines(text)) {
    if (line.empty()) continue;
    std::string hash = NormalizeAvatarHash(line);
    if (hash.empty()) return {};
    if (hashes.size() < kMaxRecent) hashes.push_back(std::move(hash));
  }
  return hashes;
}

bool AvatarCache::SaveRecent(const XmppAddress& account,
                             const std::vector<std::string>& hashes) const {
  const std::string name = RecentFileName(account);
  if (name.empty()) return false;
  std::string text;
  size_t count = 0;
  for (const std::string& hash : hashes) {
    if (!IsAvatarHash(hash) || count == kMaxRecent) continue;
    text.append(NormalizeAvatarHash(hash)).append("\n");
    ++count;
  }
  return WriteFile(name, text);
}

int AvatarCache::Cleanup(const Index& index, const std::vector<std::string>& recent) const {
  std::set<std::string> referenced;
  for (const auto& entry : index) referenced.insert(NormalizeAvatarHash(entry.second));
  for (const std::string& hash : recent) referenced.insert(NormalizeAvatarHash(hash));

  std::vector<std::string> unused;
  if (DIR* dir = opendir(folder_.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string_view name = entry->d_name;
      if (!name.ends_with(kOriginalSuffix)) continue;
      const std::string_view hash = name.substr(0, name.find('.'));
      // Only files we could have written: a lower-case hash and nothing else.
      if (NormalizeAvatarHash(hash) != hash ||
          name.size() != hash.size() + kOriginalSuffix.size()) {
        continue;
      }
      if (!referenced.contains(std::string(hash))) unused.emplace_back(hash);
    }
    closedir(dir);
  }
  int deleted = 0;
  for (const std::string& hash : unused) {
    if (unlink(PathOf(hash + std::string(kOnlineSuffix)).c_str()) != 0 && errno != ENOENT) {
      LOG(kWarning) << "Online avatar with hash " << hash << " could not be deleted ";
    }
    if (unlink(PathOf(hash + std::string(kOriginalSuffix)).c_str()) != 0) {
      LOG(kWarning) << "Original avatar with hash " << hash << " could not be deleted ";
      continue;
    }
    ++deleted;
  }
  return deleted;
}

std::string AvatarCache::EncodeBmp(const std::vector<uint32_t>& pixels, int width, int height) {
  if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height) {
    return std::string();
  }
  const uint32_t image_bytes = 4u * static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
  std::string bmp;
  bmp.reserve(54 + image_bytes);
  // File header.
  bmp.append("BM");
  PutLe32(bmp, 54 + image_bytes);
  PutLe32(bmp, 0);
  PutLe32(bmp, 54);
  // Info header: positive height means bottom-up rows.
  PutLe32(bmp, 40);
  PutLe32(bmp, static_cast<uint32_t>(width));
  PutLe32(bmp, static_cast<uint32_t>(height));
  PutLe16(bmp, 1);
  PutLe16(bmp, 32);
  PutLe32(bmp, 0);  // uncompressed
  PutLe32(bmp, image_bytes);
  PutLe32(bmp, 0);
  PutLe32(bmp, 0);
  PutLe32(bmp, 0);
  PutLe32(bmp, 0);
  for (int row = height - 1; row >= 0; --row) {
    for (int col = 0; col < width; ++col) {
      // 0xAARRGGBB little-endian is B, G, R, A: the BMP order.
      PutLe32(bmp, pixels[static_cast<size_t>(row) * width + col]);
    }
  }
  return bmp;
}

}  // namespace vexalo
