#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <set>
#include <utility>

namespace vexalo {

class SlotHost;

// What a dying SlotHost needs of every signal it is connected to.
class SignalBase {
 public:
  virtual ~SignalBase() = default;
  // Removes every connection aimed at `host`.
  virtual void DetachHost(SlotHost* host) = 0;
  // Appends a copy, aimed at `new_host`, of every connection aimed at `old_host`.
  virtual void DuplicateHost(const SlotHost* old_host, SlotHost* new_host) = 0;
};

// Base of every object that receives signals. Remembers the signals it is connected to so
// that destroying either side removes the connection.
class SlotHost {
 public:
  SlotHost() = default;
  // A copy is connected wherever the original is.
  SlotHost(const SlotHost& other);
  SlotHost& operator=(const SlotHost&) = delete;
  virtual ~SlotHost() { DisconnectAllSlots(); }

  void DisconnectAllSlots();
  size_t ConnectedSignalCount() const { return signals_.size(); }

 private:
  template <typename... Args>
  friend class Signal;

  void AddSignal(SignalBase* signal) { signals_.insert(signal); }
  void RemoveSignal(SignalBase* signal) { signals_.erase(signal); }

  std::set<SignalBase*> signals_;
};

inline SlotHost::SlotHost(const SlotHost& other) {
  for (SignalBase* signal : other.signals_) {
    signal->DuplicateHost(&other, this);
  }
}

inline void SlotHost::DisconnectAllSlots() {
  // DetachHost never calls back into this set, so plain iteration is safe.
  for (SignalBase* signal : signals_) signal->DetachHost(this);
  signals_.clear();
}

// A single-threaded multicast callback with typed arguments. Connections are called in the
// order they were made. A slot may disconnect itself or others, destroy its own object, other
// listeners or the signal itself while the signal is being emitted: connections removed during
// an emission are skipped and swept afterwards, and an emission whose signal died stops at once.
// Connections made during an emission are first called by the next one.
template <typename... Args>
class Signal : public SignalBase {
 public:
  Signal() = default;
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  ~Signal() override {
    for (EmitFrame* frame = emitting_; frame; frame = frame->outer) frame->signal_destroyed = true;
    DisconnectAll();
  }

  // Connects a member function of `object`, which must derive from SlotHost.
  template <typename T, typename R, typename... Params>
  void Connect(T* object, R (T::*method)(Params...)) {
    SlotHost* host = object;
    Add(host, [method](SlotHost* h, Args... args) {
      (static_cast<T*>(h)->*method)(std::forward<Args>(args)...);
    });
  }

  // Connects a callable whose lifetime is tied to `host`: destroying the host disconnects it.
  template <typename F>
  void Connect(SlotHost* host, F&& callable) {
    Add(host, [f = std::forward<F>(callable)](SlotHost*, Args... args) mutable {
      f(std::forward<Args>(args)...);
    });
  }

  // Removes the first connection aimed at `host`.
  void Disconnect(SlotHost* host) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (it->host == host) {
        Drop(it);
        if (!IsConnected(host)) host->RemoveSignal(this);
        return;
      }
    }
  }

  void DisconnectAll() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      SlotHost* host = it->host;
      auto next = std::next(it);
      if (host) {
        host->RemoveSignal(this);
        Drop(it);
      }
      it = next;
    }
  }

  bool IsConnected(const SlotHost* host) const {
    for (const Connection& c : connections_) {
      if (c.host == host) return true;
    }
    return false;
  }

  bool HasConnections() const {
    for (const Connection& c : connections_) {
      if (c.host) return true;
    }
    return false;
  }

  void Emit(Args... args) {
    if (connections_.empty()) return;
    EmitFrame frame;
    frame.outer = emitting_;
    emitting_ = &frame;
    size_t remaining = connections_.size();
    for (auto it = connections_.begin(); remaining > 0; --remaining) {
      auto current = it++;
      if (!current->host) continue;
      current->call(current->host, args...);
      if (frame.signal_destroyed) return;
    }
    emitting_ = frame.outer;
    if (!emitting_ && has_dropped_) Sweep();
  }

  void operator()(Args... args) { Emit(args...); }

  void DetachHost(SlotHost* host) override {
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->host == host) Drop(it);
      it = next;
    }
  }

  void DuplicateHost(const SlotHost* old_host, SlotHost* new_host) override {
    // Snapshot the end first: the copies are appended to the same list.
    auto end = connections_.end();
    size_t count = connections_.size();
    auto it = connections_.begin();
    for (size_t i = 0; i < count && it != end; ++i, ++it) {
      if (it->host == old_host) connections_.push_back(Connection{new_host, it->call});
    }
    if (IsConnected(new_host)) new_host->AddSignal(this);
  }

 private:
  using Call = std::function<void(SlotHost*, Args...)>;
  struct Connection {
    SlotHost* host;  // null once dropped during an emission
    Call call;
  };
  struct EmitFrame {
    EmitFrame* outer = nullptr;
    bool signal_destroyed = false;
  };

  void Add(SlotHost* host, Call call) {
    connections_.push_back(Connection{host, std::move(call)});
    host->AddSignal(this);
  }

  // An emission in progress may hold iterators into the list: mark instead of erasing.
  void Drop(typename std::list<Connection>::iterator it) {
    if (emitting_) {
      it->host = nullptr;
      has_dropped_ = true;
    } else {
      connections_.erase(it);
    }
  }

  void Sweep() {
    connections_.remove_if([](const Connection& c) { return c.host == nullptr; });
    has_dropped_ = false;
  }

  std::list<Connection> connections_;
  EmitFrame* emitting_ = nullptr;
  bool has_dropped_ = false;
};

}  // namespace vexalo
