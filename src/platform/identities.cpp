// Whether identities read at different times are of one file or folder, the same on every system;
// what each system reads for them is in its own files.
#include "platform.h"

namespace Platform {

namespace {

// Where `fat` is set, times are Windows' FILETIME, counted in 100 nanoseconds.
constexpr qint64 minute = 60 * 10'000'000LL;
// A time-zone bias is a whole number of minutes (TIME_ZONE_INFORMATION), daylight saving time
// included; the world's local times run from UTC-12:00 to UTC+14:00, so two biases differ by at most
// 26 hours.
constexpr qint64 widestChange = 26 * 60 * minute;

// Whether two readings of a time are of one time as the volume keeps it: equal, or where it keeps
// local times, apart by what a change of bias makes of them. A time the volume does not have (0)
// is given as 0 whatever the bias.
bool sameTime(quint64 earlier, quint64 now, bool localTimes)
{
    const auto change = static_cast<qint64>(now - earlier);
    if (change == 0)
        return true;
    return localTimes && earlier != 0 && now != 0 && change % minute == 0 && change >= -widestChange
        && change <= widestChange;
}

} // namespace

bool stillSameFile(const FileIdentity& earlier, const FileIdentity& now)
{
    return earlier.volume == now.volume && earlier.fat == now.fat && earlier.index == now.index
        && earlier.indexHigh == now.indexHigh && earlier.size == now.size
        && sameTime(earlier.born, now.born, earlier.fat);
}

bool stillSameFolder(const FolderIdentity& earlier, const FolderIdentity& now)
{
    return earlier.volume == now.volume && earlier.index == now.index && earlier.indexHigh == now.indexHigh
        && earlier.fat == now.fat && sameTime(earlier.born, now.born, earlier.fat);
}

} // namespace Platform
