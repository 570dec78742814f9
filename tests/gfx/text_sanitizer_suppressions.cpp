// Sanitizer findings inside the text stack, for test programs that draw
// text. Link the object library lumvara_test_text_suppressions.
//
// Leaks: fontconfig keeps its configuration and caches until the process
// ends (it is never finalised, Pango holds on to them).
//
// Races: Pango resolves fonts on a worker thread of its own and hands the
// results over with GLib's mutexes and conditions, which GLib builds on raw
// futexes that the thread checker cannot see; it then reports every hand-over
// as a race. Only frames inside these libraries are suppressed.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "race:libpangoft2-1.0.so\n"
         "race:libpango-1.0.so\n"
         "race:libfontconfig.so\n"
         "race:libglib-2.0.so\n"
         "race:libharfbuzz.so\n";
}
