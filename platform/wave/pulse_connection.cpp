#include "platform/wave/pulse_connection.h"

#include "platform/wave/wave_buffer.h"

namespace lumvara {

std::unique_ptr<PulseConnection> PulseConnection::Connect(const char* clientName) {
  std::unique_ptr<PulseConnection> connection(new PulseConnection());
  if (!connection->Start(clientName)) return nullptr;
  return connection;
}

bool PulseConnection::Start(const char* clientName) {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) return false;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), clientName);
  if (!context_) return false;
  pa_context_set_state_callback(context_, &PulseConnection::OnContextState, this);
  // A missing server is reported, never started behind the caller's back.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  if (pa_threaded_mainloop_start(loop_) < 0) return false;

  pa_threaded_mainloop_lock(loop_);
  pa_time_event* timer =
      pa_context_rttime_new(context_, pa_rtclock_now() + pa_usec_t{kConnectTimeoutMs} * PA_USEC_PER_MSEC,
                            &PulseConnection::OnConnectTimeout, this);
  pa_context_state_t state;
  while ((state = pa_context_get_state(context_)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state) && !timedOut_) {
    pa_threaded_mainloop_wait(loop_);
  }
  if (timer) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
  pa_threaded_mainloop_unlock(loop_);
  return state == PA_CONTEXT_READY;
}

PulseConnection::~PulseConnection() {
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::Wait(pa_operation* operation) {
  if (!operation) return false;
  PulseLock lock(*this);
  pa_operation_state_t state;
  while ((state = pa_operation_get_state(operation)) == PA_OPERATION_RUNNING && ContextGood()) {
    pa_threaded_mainloop_wait(loop_);
  }
  pa_operation_unref(operation);
  return state == PA_OPERATION_DONE;
}

pa_stream* PulseConnection::NewWaveStream(const char* name) {
  static constexpr pa_sample_spec kSpec = {PA_SAMPLE_S16LE, kWaveSampleRate, kWaveChannels};
  pa_stream* stream = pa_stream_new(context_, name, &kSpec, nullptr);
  if (stream) pa_stream_set_state_callback(stream, &PulseConnection::OnStreamState, this);
  return stream;
}

bool PulseConnection::WaitStreamReady(pa_stream* stream) {
  pa_stream_state_t state;
  while ((state = pa_stream_get_state(stream)) != PA_STREAM_READY && PA_STREAM_IS_GOOD(state)) {
    pa_threaded_mainloop_wait(loop_);
  }
  return state == PA_STREAM_READY;
}

void PulseConnection::CloseStream(pa_stream*& stream) {
  if (!stream) return;
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

pa_buffer_attr PulseConnection::ServerChosenAttr() {
  constexpr auto kServerChooses = static_cast<std::uint32_t>(-1);
  return pa_buffer_attr{kServerChooses, kServerChooses, kServerChooses, kServerChooses, kServerChooses};
}

void PulseConnection::OnStreamState(pa_stream*, void* self) { static_cast<PulseConnection*>(self)->Signal(); }

void PulseConnection::OnContextState(pa_context*, void* self) { static_cast<PulseConnection*>(self)->Signal(); }

void PulseConnection::OnConnectTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
  auto* connection = static_cast<PulseConnection*>(self);
  connection->timedOut_ = true;
  connection->Signal();
}

}  // namespace lumvara
