// Fontconfig keeps its parsed configuration for the life of the process and
// frees it only when asked to, which the toolkit never does; the leak checker
// would report that on every run of a test that draws text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
