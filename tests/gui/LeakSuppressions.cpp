// The desktop libraries under Qt keep process-lifetime caches that they never
// free (fontconfig's configuration, libdbus's connection data). LeakSanitizer
// reads this hook at start-up; our own allocations stay checked.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n";
}
