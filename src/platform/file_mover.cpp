// How a file is moved without replacing anything, on every system: which way to try first, what a
// volume refused, and letter-case changes through a temporary name. The ways themselves are calls
// of the operating system, in its own file; their errors arrive as errno values on every system.

#include "platform.h"

#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>

namespace Platform {

namespace {

bool flagRefusedByFileSystem(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool hardLinksRefused(int error)
{
    // vfat and similar refuse hard links with EPERM; others say the operation is unsupported.
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

constexpr int temporaryNameAttempts = 8;

QByteArray temporaryName()
{
    // Plain ASCII, so that every volume can hold it, and not hidden, so that a user finds the file.
    return "batch-renamer-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
}

// Whether two names are the same under Unicode case folding; names that are not valid UTF-8 are
// never taken for one another.
bool sameNameIgnoringCase(const QByteArray& first, const QByteArray& second)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString firstText = decoder(first);
    const QString secondText = decoder(second);
    return !decoder.hasError() && firstText.toCaseFolded() == secondText.toCaseFolded();
}

// FUSE's FAT driver loses the file when it refuses a rename, so a name it cannot hold (a character
// FAT refuses, a character outside printable ASCII, or more than 255 characters) is refused first.
bool fitsFuseFat(const QByteArray& name)
{
    constexpr QByteArrayView refused = "\"*:<>?\\|";
    return name.size() <= 255 && std::all_of(name.cbegin(), name.cend(), [&refused](char c) {
        return c >= 0x20 && c <= 0x7e && !refused.contains(c);
    });
}

} // namespace

FileMover::FileMover()
    : FileMover(MoveSteps { renameNoReplace, linkThenUnlink, checkThenRename })
{
}

FileMover::FileMover(const MoveSteps& steps)
    : m_steps(steps)
{
}

FileMover::Volume& FileMover::volumeOf(const FolderHandle& folder)
{
    const auto [it, inserted] = m_volumes.try_emplace(folder.volume());
    if (inserted)
        it->second.dropsFilesOnRefusedNames = dropsFilesOnRefusedNames(folder.volume());
    return it->second;
}

MoveResult FileMover::moveOnce(
    const FolderHandle& folder, Volume& volume, const QByteArray& from, const QByteArray& to)
{
    if (volume.dropsFilesOnRefusedNames && !fitsFuseFat(to))
        return { EINVAL, MoveWay::NotMoved, false };
    // A refusal is remembered only once a later way has moved the file: some file systems answer a
    // name they cannot hold as they answer a way of moving they lack.
    Volume refused = volume;
    const auto attempt = [&](MoveStep step, MoveWay way) {
        const int error = step(folder, from, to);
        if (error == 0)
            volume = refused;
        return MoveResult { error, error == 0 ? way : MoveWay::NotMoved, false };
    };
    if (!refused.refusesNoReplace) {
        const MoveResult result = attempt(m_steps.renameNoReplace, MoveWay::RenameNoReplace);
        if (!flagRefusedByFileSystem(result.error))
            return result;
        refused.refusesNoReplace = true;
    }
    if (!refused.refusesHardLinks) {
        const MoveResult result = attempt(m_steps.linkThenUnlink, MoveWay::LinkThenUnlink);
        if (!hardLinksRefused(result.error))
            return result;
        refused.refusesHardLinks = true;
    }
    return attempt(m_steps.checkThenRename, MoveWay::CheckThenRename);
}

// A case-insensitive volume finds the source itself under the target's letters, so the direct move
// reports that the target exists. The file goes to a unique temporary name first and from there to
// the target, each step refusing to replace anything. A crash between the two steps leaves the
// file, whole, under the temporary name in its own folder.
MoveResult FileMover::changeCaseOnly(
    const FolderHandle& folder, Volume& volume, const QByteArray& from, const QByteArray& to)
{
    MoveResult toTemporary;
    QByteArray temporary;
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        temporary = temporaryName();
        toTemporary = moveOnce(folder, volume, from, temporary);
        if (toTemporary.error != EEXIST)
            break;
    }
    if (toTemporary.error != 0)
        return toTemporary;
    MoveResult toTarget = moveOnce(folder, volume, temporary, to);
    if (toTarget.error != 0) {
        // Should the way back fail too, the file stays whole under the temporary name.
        moveOnce(folder, volume, temporary, from);
        return toTarget;
    }
    toTarget.throughTemporaryName = true;
    return toTarget;
}

MoveResult FileMover::move(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    Volume& volume = volumeOf(folder);
    const MoveResult direct = moveOnce(folder, volume, from, to);
    if (direct.error == EEXIST && from != to && sameNameIgnoringCase(from, to))
        return changeCaseOnly(folder, volume, from, to);
    return direct;
}

} // namespace Platform
