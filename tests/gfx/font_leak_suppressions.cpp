// Fontconfig keeps its configuration and caches until the process ends (the
// library is never finalised: Pango holds on to them), which the leak
// checker would report for every test that draws text. Link this object
// into test programs that draw text.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
