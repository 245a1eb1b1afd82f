// The system calls through which the Linux layer changes names and makes its records durable, in one
// table a test may change.
#pragma once

namespace Platform::Native {

struct Calls
{
    int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags);
    int (*renameat)(int fromFolder, const char* from, int toFolder, const char* to);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*unlinkat)(int folder, const char* name, int flags);
    // What makes the program's own records durable, so that a test can see it come before a move.
    int (*fsync)(int fd);
};

// The calls the layer makes: the C library's own, unless a test has put others in their place to
// answer as a file system that the machine running it does not have.
extern Calls calls;
// The C library's own calls, to which a test's replacement hands on what it does not answer itself.
const Calls& systemCalls();

} // namespace Platform::Native
