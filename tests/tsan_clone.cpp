// Linked into the tests only when they are built with ThreadSanitizer.
//
// QProcess starts a program with glibc's clone() and CLONE_VM | CLONE_VFORK: the child borrows the
// parent's memory until it runs the program. GCC 12's ThreadSanitizer takes every clone() for a
// fork(), and in the child marks the other threads finished and the process forked with threads
// running; in borrowed memory that marks the parent, which then stops checking its main thread and
// dies at its next new thread. This clone(), found before the sanitizer's, hands a clone that shares
// memory straight to glibc, as the sanitizer did before it intercepted clone(); every other clone
// still goes through the sanitizer.

#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...)
{
    // glibc's declaration: the last three are read only for the flags that ask for them.
    va_list rest;
    va_start(rest, argument);
    auto* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    auto* childTid = va_arg(rest, pid_t*);
    va_end(rest);

    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto glibcClone
        = reinterpret_cast<Clone>(dlsym(dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD), "clone"));
    static const auto sanitizerClone = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    const Clone chosen = (flags & CLONE_VM) ? glibcClone : sanitizerClone;
    return chosen(function, stack, flags, argument, parentTid, tls, childTid);
}
