#pragma once
// A private connection to the PulseAudio server: one threaded main loop and
// one context. Every PulseAudio callback of the objects built on it runs on
// the loop's thread with the loop lock held.

#include <pulse/pulseaudio.h>

#include <memory>

namespace lumvara {

class PulseConnection {
 public:
  // Connects to the server the environment names (PULSE_SERVER, the
  // runtime directory). Never starts a server; gives up within
  // kConnectTimeoutMs. nullptr when no server answers.
  static std::unique_ptr<PulseConnection> Connect(const char* clientName);

  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  pa_threaded_mainloop* Loop() const { return loop_; }
  pa_context* Context() const { return context_; }

  // True on the loop's own thread (inside a PulseAudio callback).
  bool InLoopThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }

  // Waits, with the loop locked, until `operation` finishes or the
  // connection fails; takes ownership of `operation`. The operation's
  // callback must call Signal(). false when the operation was null or
  // did not complete.
  bool Wait(pa_operation* operation);

  // Wakes Wait() and WaitFor() callers; for use in callbacks.
  void Signal() { pa_threaded_mainloop_signal(loop_, 0); }
  void WaitForSignal() { pa_threaded_mainloop_wait(loop_); }

  bool ContextGood() const { return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); }

  // Stream helpers for the wave devices; call with the loop locked.
  // A new stream in the one wave format (8000 Hz mono s16le) whose state
  // changes wake waiters; nullptr on failure.
  pa_stream* NewWaveStream(const char* name);
  // Waits until a connecting stream is ready; false when it failed.
  bool WaitStreamReady(pa_stream* stream);
  // Detaches every callback, disconnects and releases; clears `stream`.
  static void CloseStream(pa_stream*& stream);
  // Buffer attributes with every field left to the server.
  static pa_buffer_attr ServerChosenAttr();

  static constexpr int kConnectTimeoutMs = 2000;

 private:
  PulseConnection() = default;
  bool Start(const char* clientName);
  static void OnContextState(pa_context* context, void* self);
  static void OnStreamState(pa_stream* stream, void* self);
  static void OnConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool timedOut_ = false;  // written and read under the loop lock
};

// Scoped loop lock that is a no-op on the loop's own thread, where the lock
// is already held.
class PulseLock {
 public:
  explicit PulseLock(const PulseConnection& connection)
      : loop_(connection.InLoopThread() ? nullptr : connection.Loop()) {
    if (loop_) pa_threaded_mainloop_lock(loop_);
  }
  ~PulseLock() {
    if (loop_) pa_threaded_mainloop_unlock(loop_);
  }
  PulseLock(const PulseLock&) = delete;
  PulseLock& operator=(const PulseLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace lumvara
