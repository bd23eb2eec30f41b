// Leak reports of the sanitizer builds that belong to the system libraries
// under Qt: fontconfig keeps its configuration to the end of the process.
// Leaks of this project's code are still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
