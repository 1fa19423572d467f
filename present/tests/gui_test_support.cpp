// Fontconfig keeps its caches to the end of the process on purpose (Qt never tears it down):
// LeakSanitizer is told so, and still reports any other leak of the composition tests.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
