// What the sanitizer build does not report as leaks of a program that uses Qt: fontconfig, which
// Qt asks for fonts, keeps its caches for the life of the process. Every program and test program
// that links the GUI services gets this one definition (host/ui/CMakeLists.txt); the sanitizer's
// runtime asks for it at start.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
