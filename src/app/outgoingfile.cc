#include "app/outgoingfile.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <utility>

namespace vexalo {

OutgoingFile::OutgoingFile(std::string id, std::string path, uint64_t size, EventQueue* clock)
    : id_(std::move(id)), path_(std::move(path)), size_(size), clock_(clock) {}

OutgoingFile::~OutgoingFile() {
  if (stream_) stream_->StreamEvent.Disconnect(this);
  if (file_) fclose(file_);
}

bool OutgoingFile::Open(std::string* error) {
  file_ = fopen(path_.c_str(), "rbe");
  if (file_ == nullptr) {
    *error = "cannot read " + path_ + ": " + strerror(errno);
    return false;
  }
  return true;
}

void OutgoingFile::Attach(std::unique_ptr<TunnelStream> stream) {
  stream_ = std::move(stream);
  stream_->StreamEvent.Connect(this, &OutgoingFile::OnStreamEvent);
}

void OutgoingFile::OnStreamEvent(DataStream*, int events, int error) {
  if (finished_) return;
  if (events & (SE_OPEN | SE_WRITE)) Pump();
  if (finished_) return;
  if (events & SE_READ) ReadVerdict();
  if (finished_) return;
  if (events & SE_CLOSE) {
    Finish(false, error ? "connection lost (" + std::to_string(error) + ")" : "the receiver ended the transfer");
  }
}

void OutgoingFile::Pump() {
  while (sent_ < size_) {
    if (buffer_offset_ == buffered_) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buffer_, size_ - sent_));
      buffered_ = fread(buffer_, 1, want, file_);
      buffer_offset_ = 0;
      if (buffered_ == 0) {
        Finish(false, "the file got shorter while it was sent");
        return;
      }
    }
    size_t written = 0;
    int error = 0;
    StreamResult result = stream_->Write(buffer_ + buffer_offset_, buffered_ - buffer_offset_, &written, &error);
    if (result == SR_BLOCK) return;
    if (result != SR_SUCCESS) {
      Finish(false, "connection lost (" + std::to_string(error) + ")");
      return;
    }
    buffer_offset_ += written;
    sent_ += written;
    if (meter_.ShouldReport(clock_->Now(), sent_, size_)) Progress(id_, sent_, size_);
  }
}

void OutgoingFile::ReadVerdict() {
  char verdict = 0;
  size_t read = 0;
  int error = 0;
  StreamResult result = stream_->Read(&verdict, 1, &read, &error);
  if (result == SR_BLOCK) return;
  if (result != SR_SUCCESS) {
    Finish(false, "connection lost (" + std::to_string(error) + ")");
    return;
  }
  if (sent_ == size_ && verdict == 'Y') {
    Finish(true, "");
  } else {
    Finish(false, "the receiver refused the file");
  }
}

void OutgoingFile::Finish(bool ok, const std::string& reason) {
  finished_ = true;
  if (stream_) stream_->Close();
  if (ok) {
    Done(id_, path_);
  } else {
    Failed(id_, reason);
  }
}

}  // namespace vexalo
