#include "voice/pulsedevicelist.h"

#include <pulse/pulseaudio.h>

namespace vexalo {
namespace {

struct Query {
  pa_mainloop* loop;
  std::vector<SoundDevice>* inputs;
  std::vector<SoundDevice>* outputs;
  int pending = 0;
  bool failed = false;
};

void Done(Query* query) {
  if (--query->pending == 0) pa_mainloop_quit(query->loop, 0);
}

void OnSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* query = static_cast<Query*>(data);
  if (eol) return Done(query);
  query->inputs->push_back({info->name, info->description ? info->description : info->name});
}

void OnSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
  auto* query = static_cast<Query*>(data);
  if (eol) return Done(query);
  query->outputs->push_back({info->name, info->description ? info->description : info->name});
}

void OnState(pa_context* context, void* data) {
  auto* query = static_cast<Query*>(data);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      query->pending = 2;
      pa_operation_unref(pa_context_get_source_info_list(context, OnSource, query));
      pa_operation_unref(pa_context_get_sink_info_list(context, OnSink, query));
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      query->failed = true;
      pa_mainloop_quit(query->loop, 1);
      break;
    default:
      break;
  }
}

}  // namespace

bool PulseDeviceList::Load() {
  inputs_.clear();
  outputs_.clear();
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Vexalo");
  Query query{loop, &inputs_, &outputs_};
  pa_context_set_state_callback(context, OnState, &query);
  bool ok = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  if (ok) {
    int result = 0;
    pa_mainloop_run(loop, &result);
    ok = !query.failed;
  }
  pa_context_disconnect(context);
  pa_context_unref(context);
  pa_mainloop_free(loop);
  return ok;
}

}  // namespace vexalo
