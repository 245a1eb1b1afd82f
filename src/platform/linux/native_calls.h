// The system calls through which the Linux layer changes names, in one table a test may change.
#pragma once

namespace Platform::Native {

struct Calls
{
    int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags);
    int (*renameat)(int fromFolder, const char* from, int toFolder, const char* to);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*unlinkat)(int folder, const char* name, int flags);
};

// The calls the layer makes: the C library's own, unless a test has put others in their place to
// answer as a file system that the machine running it does not have.
extern Calls calls;
// The C library's own calls, to which a test's replacement hands on what it does not answer itself.
const Calls& systemCalls();

} // namespace Platform::Native
