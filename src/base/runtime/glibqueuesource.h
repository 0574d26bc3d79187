#pragma once

#include <glib.h>

#include <memory>

namespace vexalo {

class EventQueue;
class PhysicalSocketServer;

// Runs a thread's EventQueue inside a GLib main loop: a GSource that polls the hub's epoll
// descriptor, drains the queue without ever blocking, and keeps its ready time at the next
// timed message. The UI thread uses it so posted messages, timed messages and socket events
// run between the toolkit's own events.
class GlibQueueSource {
 public:
  // Attaches to `context` (null: the default main context).
  GlibQueueSource(EventQueue* queue, PhysicalSocketServer* hub, GMainContext* context = nullptr);
  ~GlibQueueSource();

  // Drains the main thread's LoopThread from the default main context: what the UI thread
  // sets up before it runs the GLib main loop. Null if that thread's hub is not a
  // PhysicalSocketServer.
  static std::unique_ptr<GlibQueueSource> ForMainThread();
  GlibQueueSource(const GlibQueueSource&) = delete;
  GlibQueueSource& operator=(const GlibQueueSource&) = delete;

  // Messages dispatched per main-loop iteration at most, so a queue that keeps refilling
  // itself cannot starve the toolkit.
  static constexpr int kMaxMessagesPerDispatch = 1000;

 private:
  struct Source;
  static gboolean DispatchThunk(GSource* source, GSourceFunc, gpointer);
  void Drain();

  EventQueue* queue_;
  PhysicalSocketServer* hub_;
  Source* source_;
};

}  // namespace vexalo
