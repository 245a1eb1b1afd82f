// How a file is moved without replacing anything, on every system: which way to try first, what a
// volume refused, and letter-case changes through a temporary name. The ways themselves are calls
// of the operating system, in its own files; their errors arrive as errno values on every system.

#include "file_mover.h"

#include <QRandomGenerator>
#include <QScopeGuard>
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

// FUSE's FAT driver loses the file when it refuses a rename, so a name it cannot hold (a character
// FAT refuses, a character outside printable ASCII, or more than 255 characters) is refused first.
bool fitsFuseFat(const QByteArray& name)
{
    constexpr QByteArrayView refused = "\"*:<>?\\|";
    return name.size() <= 255 && std::all_of(name.cbegin(), name.cend(), [&refused](char c) {
        return c >= 0x20 && c <= 0x7e && !refused.contains(c);
    });
}

// The UTF-8 length in bytes of the code point that begins with `lead`; 1 for a byte that begins
// none, which then stands for itself.
int codePointBytes(unsigned char lead)
{
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    if (lead >= 0xe0)
        return lead <= 0xef ? 3 : 1;
    return lead >= 0xc2 && lead <= 0xdf ? 2 : 1;
}

// The file's own name first, so that a file left under it by a crash still says which file it is,
// then a random part that makes it unique, ended with a suffix no user gives a file. The own name
// is cut, never within a character, so that the whole fits the volume; where the volume holds
// printable ASCII alone, every other character becomes "_".
QByteArray temporaryName(const QByteArray& from, const NameLimit& limit, bool asciiOnly)
{
    const QByteArray tail = '.'
        + QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0')
        + ".batch-renamer-tmp";
    const qsizetype room = limit.length - tail.size();
    QByteArray head;
    qsizetype used = 0;
    for (qsizetype i = 0; i < from.size();) {
        const qsizetype bytes
            = std::min<qsizetype>(codePointBytes(static_cast<unsigned char>(from[i])), from.size() - i);
        const QByteArrayView character = QByteArrayView(from).sliced(i, bytes);
        const bool plain = bytes == 1 && fitsFuseFat(character.toByteArray());
        const qsizetype size = asciiOnly ? 1 : limit.inUtf16Units ? (bytes == 4 ? 2 : 1) : bytes;
        if (used + size > room)
            break;
        if (asciiOnly && !plain)
            head += '_';
        else
            head += character;
        used += size;
        i += bytes;
    }
    return head + tail;
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

} // namespace

FileMover::FileMover()
    : FileMover(MoveSteps { renameNoReplace, linkThenUnlink, checkThenRename })
{
}

FileMover::FileMover(const MoveSteps& steps)
    : m_steps(steps)
{
}

FileMover::Volume FileMover::volumeOf(const FolderHandle& folder)
{
    const std::lock_guard lock(m_mutex);
    const auto [it, inserted] = m_volumes.try_emplace(folder.volume());
    if (inserted) {
        it->second.dropsFilesOnRefusedNames = dropsFilesOnRefusedNames(folder.volume());
        it->second.limit = nameLimit(folder);
    }
    return it->second;
}

void FileMover::learn(const FolderHandle& folder, const Volume& volume)
{
    const std::lock_guard lock(m_mutex);
    Volume& known = m_volumes[folder.volume()];
    // What one move learnt stands beside what another learnt meanwhile.
    known.refusesNoReplace = known.refusesNoReplace || volume.refusesNoReplace;
    known.refusesHardLinks = known.refusesHardLinks || volume.refusesHardLinks;
}

MoveResult FileMover::moveOnce(const FolderHandle& folder, Volume& volume, const QByteArray& from,
    const QByteArray& to, const LinkedReport& linked)
{
    if (volume.dropsFilesOnRefusedNames && !fitsFuseFat(to))
        return { EINVAL, MoveWay::NotMoved, false, {} };
    // A refusal is remembered only once a later way has moved the file: some file systems answer a
    // name they cannot hold as they answer a way of moving they lack.
    Volume refused = volume;
    const auto attempt = [&](const auto& step, MoveWay way) {
        const int error = step();
        if (error == 0)
            volume = refused;
        return MoveResult { error, error == 0 ? way : MoveWay::NotMoved, false,
            error == movedElsewhere ? takePlacedElsewhere() : QByteArray() };
    };
    const auto byStep = [&](MoveStep step) { return [&, step] { return step(folder, from, to); }; };
    if (!refused.refusesNoReplace) {
        const MoveResult result = attempt(byStep(m_steps.renameNoReplace), MoveWay::RenameNoReplace);
        if (!flagRefusedByFileSystem(result.error))
            return result;
        refused.refusesNoReplace = true;
    }
    if (!refused.refusesHardLinks) {
        const MoveResult result = attempt(
            [&] { return m_steps.linkThenUnlink(folder, from, to, linked); }, MoveWay::LinkThenUnlink);
        if (!hardLinksRefused(result.error))
            return result;
        refused.refusesHardLinks = true;
    }
    return attempt(byStep(m_steps.checkThenRename), MoveWay::CheckThenRename);
}

// A case-insensitive volume finds the source itself under the target's letters, so the direct move
// reports that the target exists. The file goes to a unique temporary name first and from there to
// the target, each step refusing to replace anything. A crash between the two steps leaves the
// file, whole, under the temporary name in its own folder.
MoveResult FileMover::changeCaseOnly(const FolderHandle& folder, Volume& volume, const QByteArray& from,
    const QByteArray& to, const TemporaryNameReport& temporaryName, const LinkedReport& linked)
{
    MoveResult toTemporary;
    QByteArray temporary;
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        temporary = Platform::temporaryName(from, volume.limit, volume.dropsFilesOnRefusedNames);
        if (temporaryName)
            temporaryName(temporary);
        toTemporary = moveOnce(folder, volume, from, temporary, {});
        if (toTemporary.error != EEXIST)
            break;
    }
    if (toTemporary.error != 0)
        return toTemporary;
    MoveResult toTarget = moveOnce(folder, volume, temporary, to, linked);
    if (toTarget.error != 0) {
        // Should the way back fail too, the file stays whole under the temporary name.
        moveOnce(folder, volume, temporary, from, {});
        return toTarget;
    }
    toTarget.throughTemporaryName = true;
    return toTarget;
}

bool FileMover::refusesName(const FolderHandle& folder, const QByteArray& to)
{
    return (volumeOf(folder).dropsFilesOnRefusedNames && !fitsFuseFat(to)) || systemRefusesName(to);
}

MoveResult FileMover::move(const FolderHandle& folder, const QByteArray& from, const QByteArray& to,
    const TemporaryNameReport& temporaryName, const LinkedReport& linked)
{
    Volume volume = volumeOf(folder);
    const auto learnt = qScopeGuard([&] { learn(folder, volume); });
    const MoveResult direct = moveOnce(folder, volume, from, to, linked);
    if (direct.error == EEXIST && from != to && sameNameIgnoringCase(from, to))
        return changeCaseOnly(folder, volume, from, to, temporaryName, linked);
    return direct;
}

} // namespace Platform
