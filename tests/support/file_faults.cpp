// The host's file layer with the tests' fault seam, linked into the test executable
// ahead of the shared host library's copy.
#define KVNTF_FILE_FAULTS
#include "kernel/file.cpp"
