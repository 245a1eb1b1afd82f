// Whether two files hold the same bytes, the same on every system; each system reads its own files.
#pragma once

#include <QtGlobal>

#include <functional>

namespace Platform {

// Reads at most `size` bytes of an open file into `buffer`: how many, 0 at its end, or -1.
using ReadSome = std::function<qint64(char* buffer, qint64 size)>;

// Whether the two files `first` and `second` read hold the same bytes, read to their ends.
bool sameBytes(const ReadSome& first, const ReadSome& second);

} // namespace Platform
