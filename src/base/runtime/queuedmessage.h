#pragma once

#include <cstdint>
#include <memory>
#include <utility>

namespace vexalo {

// Matches every id in EventQueue::Clear.
inline constexpr uint32_t kAnyMessageId = 0xFFFFFFFFu;

// Data carried by a message. Owned by the message while it waits and by the target's
// HandleMessage once dispatched.
class MessagePayload {
 public:
  virtual ~MessagePayload() = default;
};

// A payload holding one value of any type.
template <typename T>
class MessageData : public MessagePayload {
 public:
  explicit MessageData(T value) : value_(std::move(value)) {}
  T& value() { return value_; }
  const T& value() const { return value_; }

 private:
  T value_;
};

struct QueuedMessage;

// An object that messages are posted to. Its destructor removes every message still aimed
// at it from every queue of the process (and releases threads blocked invoking it), so it is
// always safe to post to an object that may die before the message is due.
class MessageTarget {
 public:
  virtual ~MessageTarget();
  // Owns msg->payload from here on.
  virtual void HandleMessage(QueuedMessage* msg) = 0;
};

struct QueuedMessage {
  MessageTarget* target = nullptr;
  uint32_t id = 0;
  MessagePayload* payload = nullptr;

  // Takes the payload out of the message, for handlers.
  template <typename T>
  std::unique_ptr<T> TakePayload() {
    std::unique_ptr<T> owned(static_cast<T*>(payload));
    payload = nullptr;
    return owned;
  }

  bool Matches(const MessageTarget* t, uint32_t message_id) const {
    return (t == nullptr || target == t) && (message_id == kAnyMessageId || id == message_id);
  }
};

}  // namespace vexalo
