// Sanitizer findings inside libraries the control's tests run through but
// the sanitizers cannot see into: the text stack (the video window's texts,
// the on-screen texts) and libpulse (sound and talk). The reasons are the
// ones given in tests/gfx/text_sanitizer_suppressions.cpp and
// tests/audio/tsan_suppressions.cpp; a program can carry only one list of
// each kind, so the control's tests carry both here. Only frames inside
// those libraries are suppressed.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "race:libpangoft2-1.0.so\n"
         "race:libpango-1.0.so\n"
         "race:libfontconfig.so\n"
         "race:libglib-2.0.so\n"
         "race:libharfbuzz.so\n"
         "race:pa_iochannel_read_with_ancil_data\n"
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
