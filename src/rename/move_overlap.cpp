#include "move_overlap.h"

#include "conflict_check.h"

bool namesMeet(const std::array<QByteArray, 2>& earlier, const std::array<QByteArray, 2>& later)
{
    const std::array<QByteArray, 2> laterKeys { caseFolded(later[0]), caseFolded(later[1]) };
    for (const QByteArray& name : earlier) {
        const QByteArray key = caseFolded(name);
        if (key == laterKeys[0] || key == laterKeys[1])
            return true;
    }
    return false;
}
