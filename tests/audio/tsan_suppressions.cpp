// ThreadSanitizer cannot see libpulse's own synchronisation: the library is
// not instrumented, it recycles packet and ring-buffer memory between its
// connections' threads through lock-free free lists, and it creates some
// mutexes lazily and publishes them with atomics TSan does not see. Those reports are
// about libpulse's internals, never about our buffers, so the sound tests
// carry these suppressions. Harmless in builds without ThreadSanitizer.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "race:pa_iochannel_read_with_ancil_data\n"
         "race:pa_iochannel_write_with_fds\n"
         "race:pa_srbchannel_read\n"
         "race:pa_srbchannel_write\n"
         "race:pa_pstream_\n"
         "race:pa_flist_\n"
         "race:pa_packet_\n"
         "race:pa_memblock\n"
         "race:pa_mempool\n"
         "race:pa_mutex_\n"
         "race:pa_static_mutex_get\n";
}
