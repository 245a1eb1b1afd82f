#include "file_bytes.h"

#include <array>
#include <cstring>

namespace Platform {

namespace {

using Chunk = std::array<char, 65536>;

// Reads from `file` into `chunk` until it is full or the file ends: how many bytes, or -1.
qint64 readFully(const ReadSome& file, Chunk& chunk)
{
    qint64 have = 0;
    while (have < qint64(chunk.size())) {
        const qint64 got = file(chunk.data() + have, qint64(chunk.size()) - have);
        if (got <= 0)
            return got < 0 ? -1 : have;
        have += got;
    }
    return have;
}

} // namespace

bool sameBytes(const ReadSome& first, const ReadSome& second)
{
    Chunk firstBytes;
    Chunk secondBytes;
    for (;;) {
        const qint64 got = readFully(first, firstBytes);
        if (got < 0 || readFully(second, secondBytes) != got
            || std::memcmp(firstBytes.data(), secondBytes.data(), size_t(got)) != 0)
            return false;
        if (got < qint64(firstBytes.size()))
            return true;
    }
}

} // namespace Platform
