#pragma once

// Moving a file within its folder without replacing anything, the same on every system: the ways of
// moving are the system's calls declared in platform.h.

#include "platform/platform.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <mutex>
#include <unordered_map>

namespace Platform {

// One way of moving: 0, or the errno value of its failure.
using MoveStep = int (*)(const FolderHandle& folder, const QByteArray& from, const QByteArray& to);
// The same for the way that makes the new name before the old one goes, telling between the two.
using LinkStep = int (*)(
    const FolderHandle& folder, const QByteArray& from, const QByteArray& to, const LinkedReport& linked);
struct MoveSteps
{
    MoveStep renameNoReplace;
    LinkStep linkThenUnlink;
    MoveStep checkThenRename;
};

enum class MoveWay { NotMoved, RenameNoReplace, LinkThenUnlink, CheckThenRename };

struct MoveResult
{
    int error = 0; // 0 on success, else the errno value of the failed move
    MoveWay way = MoveWay::NotMoved; // the way that moved the file
    bool throughTemporaryName = false; // a change of letter case only, done in two moves
    QByteArray placedAt; // where the file is, for movedElsewhere: not in its folder

    // Whether the moved file may have another number now, so that which file it is must be read
    // anew: on FAT and exFAT (`fat`) a rename may move the file's entry, by which the volume numbers
    // it, and a file system that numbers its files by name (sshfs) gives a link a number of its own.
    bool mayRenumber(bool fat) const { return fat || way == MoveWay::LinkThenUnlink; }
};

// Told the temporary name a change of letter case is about to move a file to, before it does.
using TemporaryNameReport = std::function<void(const QByteArray& temporary)>;

// Moves files within a folder, never replacing an existing file. The next way of moving is tried
// only when the file system refused the previous way, never when the move itself failed; what a
// file system refused is remembered for later moves on it. Moves may be made from several threads
// at once.
class FileMover final
{
public:
    FileMover();
    // Moves by `steps` in place of the system's ways, so that the choice among them can be tried
    // against every answer a file system gives.
    explicit FileMover(const MoveSteps& steps);
    Q_DISABLE_COPY_MOVE(FileMover)

    // `linked` is told when a link has given the file its name `to` and its old name is yet to go.
    MoveResult move(const FolderHandle& folder, const QByteArray& from, const QByteArray& to,
        const TemporaryNameReport& temporaryName = {}, const LinkedReport& linked = {});
    // Whether move() would refuse `to` in `folder` without asking the volume, as a name the volume
    // or the system cannot hold.
    bool refusesName(const FolderHandle& folder, const QByteArray& to);

private:
    struct Volume
    {
        bool refusesNoReplace = false;
        bool refusesHardLinks = false;
        bool dropsFilesOnRefusedNames = false;
        NameLimit limit;
    };

    // What is known of the folder's volume, learnt on its first move.
    Volume volumeOf(const FolderHandle& folder);
    // Keeps what a move learnt its volume refuses.
    void learn(const FolderHandle& folder, const Volume& volume);
    MoveResult moveOnce(const FolderHandle& folder, Volume& volume, const QByteArray& from,
        const QByteArray& to, const LinkedReport& linked);
    MoveResult changeCaseOnly(const FolderHandle& folder, Volume& volume, const QByteArray& from,
        const QByteArray& to, const TemporaryNameReport& temporaryName, const LinkedReport& linked);

    MoveSteps m_steps;
    std::mutex m_mutex; // for m_volumes
    std::unordered_map<quint64, Volume> m_volumes;
};

} // namespace Platform
