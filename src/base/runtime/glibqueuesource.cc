#include "base/runtime/glibqueuesource.h"

#include "base/runtime/eventqueue.h"
#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {

struct GlibQueueSource::Source {
  GSource base;
  GlibQueueSource* owner;
};

namespace {

GSourceFuncs source_funcs = {
    nullptr,  // prepare: the descriptor and the ready time say when to dispatch
    nullptr,  // check
    nullptr,  // dispatch, set in the constructor
    nullptr,  // finalize
    nullptr,
    nullptr,
};

}  // namespace

GlibQueueSource::GlibQueueSource(EventQueue* queue, PhysicalSocketServer* hub,
                                 GMainContext* context)
    : queue_(queue), hub_(hub) {
  source_funcs.dispatch = &GlibQueueSource::DispatchThunk;
  source_ = reinterpret_cast<Source*>(g_source_new(&source_funcs, sizeof(Source)));
  source_->owner = this;
  g_source_set_name(&source_->base, "vexalo event queue");
  g_source_add_unix_fd(&source_->base, hub->PollDescriptor(), G_IO_IN);
  hub->SetPolledExternally(true);
  queue->SetWakeOnOwnPosts(true);
  // Run whatever is already waiting at the first iteration.
  g_source_set_ready_time(&source_->base, 0);
  g_source_attach(&source_->base, context);
}

std::unique_ptr<GlibQueueSource> GlibQueueSource::ForMainThread() {
  LoopThread* main_thread = ThreadRegistry::Instance().MainThread();
  auto* hub = dynamic_cast<PhysicalSocketServer*>(main_thread->hub());
  if (!hub) return nullptr;
  return std::make_unique<GlibQueueSource>(main_thread, hub, nullptr);
}

GlibQueueSource::~GlibQueueSource() {
  hub_->SetPolledExternally(false);
  queue_->SetWakeOnOwnPosts(false);
  g_source_destroy(&source_->base);
  g_source_unref(&source_->base);
}

gboolean GlibQueueSource::DispatchThunk(GSource* source, GSourceFunc, gpointer) {
  reinterpret_cast<Source*>(source)->owner->Drain();
  return G_SOURCE_CONTINUE;
}

void GlibQueueSource::Drain() {
  if (queue_->IsStopping()) {
    // A stopped queue hands out nothing; still consume the wake-up so the descriptor rests.
    hub_->Wait(0, true);
    g_source_set_ready_time(&source_->base, -1);
    return;
  }
  QueuedMessage msg;
  int dispatched = 0;
  while (dispatched < kMaxMessagesPerDispatch && queue_->Get(&msg, 0)) {
    queue_->Dispatch(&msg);
    msg = QueuedMessage();
    ++dispatched;
  }
  int delay = dispatched == kMaxMessagesPerDispatch || hub_->MoreDue() ? 0 : queue_->NextDelay();
  g_source_set_ready_time(&source_->base,
                          delay < 0 ? -1 : g_source_get_time(&source_->base) + delay * 1000LL);
}

}  // namespace vexalo
