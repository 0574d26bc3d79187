#include "base/runtime/signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vexalo {
namespace {

class Listener : public SlotHost {
 public:
  explicit Listener(std::vector<std::string>* log, std::string name = "L")
      : log_(log), name_(std::move(name)) {}
  void OnValue(int value) { log_->push_back(name_ + ":" + std::to_string(value)); }
  void OnPair(const std::string& text, int n) { log_->push_back(name_ + ":" + text + std::to_string(n)); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

TEST(SignalTest, EmitWithoutConnectionsDoesNothing) {
  Signal<int> signal;
  signal.Emit(1);
  EXPECT_FALSE(signal.HasConnections());
}

TEST(SignalTest, CallsListenersInConnectionOrderWithArguments) {
  std::vector<std::string> log;
  Listener a(&log, "A"), b(&log, "B");
  Signal<const std::string&, int> signal;
  signal.Connect(&a, &Listener::OnPair);
  signal.Connect(&b, &Listener::OnPair);
  signal.Emit("x", 7);
  EXPECT_EQ(log, (std::vector<std::string>{"A:x7", "B:x7"}));
}

TEST(SignalTest, DestroyingEitherSideRemovesTheConnection) {
  std::vector<std::string> log;
  Signal<int> signal;
  {
    Listener gone(&log);
    signal.Connect(&gone, &Listener::OnValue);
  }
  signal.Emit(1);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(signal.HasConnections());

  Listener survivor(&log);
  {
    Signal<int> short_lived;
    short_lived.Connect(&survivor, &Listener::OnValue);
    EXPECT_EQ(survivor.ConnectedSignalCount(), 1u);
  }
  EXPECT_EQ(survivor.ConnectedSignalCount(), 0u);
}

TEST(SignalTest, DisconnectRemovesOnlyTheGivenListener) {
  std::vector<std::string> log;
  Listener a(&log, "A"), b(&log, "B");
  Signal<int> signal;
  signal.Connect(&a, &Listener::OnValue);
  signal.Connect(&b, &Listener::OnValue);
  signal.Disconnect(&a);
  signal.Emit(3);
  EXPECT_EQ(log, (std::vector<std::string>{"B:3"}));
  EXPECT_EQ(a.ConnectedSignalCount(), 0u);
  signal.DisconnectAll();
  EXPECT_EQ(b.ConnectedSignalCount(), 0u);
}

TEST(SignalTest, LambdaConnectionDiesWithItsHost) {
  int calls = 0;
  Signal<int> signal;
  {
    SlotHost host;
    signal.Connect(&host, [&calls](int v) { calls += v; });
    signal.Emit(2);
  }
  signal.Emit(5);
  EXPECT_EQ(calls, 2);
}

// A listener whose slot runs an arbitrary action during the emission.
class Actor : public SlotHost {
 public:
  std::function<void()> action;
  int calls = 0;
  void OnEvent() {
    ++calls;
    if (action) action();
  }
};

TEST(SignalTest, SlotMayDisconnectItselfDuringEmit) {
  Signal<> signal;
  Actor a, b;
  a.action = [&] { signal.Disconnect(&a); };
  signal.Connect(&a, &Actor::OnEvent);
  signal.Connect(&b, &Actor::OnEvent);
  signal.Emit();
  signal.Emit();
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 2);
}

TEST(SignalTest, SlotMayDisconnectOrDestroyTheNextListenerDuringEmit) {
  Signal<> signal;
  Actor first;
  auto doomed = std::make_unique<Actor>();
  Actor last;
  first.action = [&] { doomed.reset(); };
  signal.Connect(&first, &Actor::OnEvent);
  signal.Connect(doomed.get(), &Actor::OnEvent);
  signal.Connect(&last, &Actor::OnEvent);
  signal.Emit();
  EXPECT_EQ(last.calls, 1);
  signal.Emit();
  EXPECT_EQ(first.calls, 2);
  EXPECT_EQ(last.calls, 2);
}

TEST(SignalTest, SlotMayDestroyItsOwnObjectDuringEmit) {
  Signal<> signal;
  auto* self_deleting = new Actor();
  Actor after;
  self_deleting->action = [&] { delete self_deleting; };
  signal.Connect(self_deleting, &Actor::OnEvent);
  signal.Connect(&after, &Actor::OnEvent);
  signal.Emit();
  signal.Emit();
  EXPECT_EQ(after.calls, 2);
}

TEST(SignalTest, SlotMayDestroyTheSignalDuringEmit) {
  auto signal = std::make_unique<Signal<>>();
  Actor a, b;
  a.action = [&] { signal.reset(); };
  signal->Connect(&a, &Actor::OnEvent);
  signal->Connect(&b, &Actor::OnEvent);
  signal->Emit();
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 0);
  EXPECT_EQ(a.ConnectedSignalCount(), 0u);
  EXPECT_EQ(b.ConnectedSignalCount(), 0u);
}

TEST(SignalTest, ConnectionMadeDuringEmitIsCalledFromTheNextEmit) {
  Signal<> signal;
  Actor a, late;
  a.action = [&] {
    if (!signal.IsConnected(&late)) signal.Connect(&late, &Actor::OnEvent);
  };
  signal.Connect(&a, &Actor::OnEvent);
  signal.Emit();
  EXPECT_EQ(late.calls, 0);
  signal.Emit();
  EXPECT_EQ(late.calls, 1);
}

TEST(SignalTest, NestedEmitSkipsConnectionsDroppedByTheInnerOne) {
  Signal<> signal;
  Actor a, b;
  int depth = 0;
  a.action = [&] {
    if (depth++ == 0) {
      signal.Emit();  // inner emission: b is called and then disconnects itself
    }
  };
  b.action = [&] { signal.Disconnect(&b); };
  signal.Connect(&a, &Actor::OnEvent);
  signal.Connect(&b, &Actor::OnEvent);
  signal.Emit();
  EXPECT_EQ(b.calls, 1);
  EXPECT_FALSE(signal.IsConnected(&b));
}

TEST(SignalTest, CopiedHostIsConnectedWhereTheOriginalIs) {
  std::vector<std::string> log;
  Signal<int> signal;
  Listener original(&log, "O");
  signal.Connect(&original, &Listener::OnValue);
  Listener copy(original);
  signal.Emit(1);
  EXPECT_EQ(log, (std::vector<std::string>{"O:1", "O:1"}));
  EXPECT_EQ(copy.ConnectedSignalCount(), 1u);
}

}  // namespace
}  // namespace vexalo
