#include "base/http/filestream.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace vexalo {

FileStream::~FileStream() { Close(); }

bool FileStream::Open(const std::string& path, const char* mode, int* error) {
  Close();
  // "e" (close-on-exec) keeps the file out of programs we start.
  std::string full_mode = mode ? mode : "";
  if (full_mode.find('e') == std::string::npos) full_mode += 'e';
  file_ = std::fopen(path.c_str(), full_mode.c_str());
  if (!file_) {
    if (error) *error = errno;
    return false;
  }
  return true;
}

StreamState FileStream::GetState() const { return file_ ? STREAM_OPEN : STREAM_CLOSED; }

StreamResult FileStream::Read(void* buffer, size_t length, size_t* read, int* error) {
  if (!file_) {
    if (error) *error = EBADF;
    return SR_ERROR;
  }
  const size_t count = std::fread(buffer, 1, length, file_);
  if (count == 0 && length > 0) {
    if (std::feof(file_)) return SR_EOS;
    if (error) *error = errno;
    return SR_ERROR;
  }
  if (read) *read = count;
  return SR_SUCCESS;
}

StreamResult FileStream::Write(const void* data, size_t length, size_t* written, int* error) {
  if (!file_) {
    if (error) *error = EBADF;
    return SR_ERROR;
  }
  const size_t count = std::fwrite(data, 1, length, file_);
  if (count == 0 && length > 0) {
    if (error) *error = errno;
    return SR_ERROR;
  }
  if (written) *written = count;
  return SR_SUCCESS;
}

void FileStream::Close() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool FileStream::GetSize(size_t* size) const {
  if (!file_) return false;
  // Buffered bytes are part of the file as far as the caller is concerned.
  std::fflush(file_);
  struct stat info;
  if (fstat(fileno(file_), &info) != 0) return false;
  if (size) *size = static_cast<size_t>(info.st_size);
  return true;
}

bool FileStream::SetPosition(size_t position) {
  if (!file_) return false;
  return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool FileStream::Flush() { return file_ && std::fflush(file_) == 0; }

}  // namespace vexalo
