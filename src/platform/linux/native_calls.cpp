// The table of system calls, filled with the C library's own.
#include "native_calls.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace Platform::Native {

const Calls& systemCalls()
{
    static const Calls libc { ::renameat2, ::renameat, ::linkat, ::unlinkat, ::fsync };
    return libc;
}

Calls calls = systemCalls();

} // namespace Platform::Native
