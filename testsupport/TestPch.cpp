// Compiled once so that every test program can reuse its precompiled headers.
