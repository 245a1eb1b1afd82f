#pragma once

#include "file_list/file_list_model.h"
#include "pass_result.h"
#include "platform/file_mover.h"
#include "platform/platform.h"

#include <QByteArray>

#include <optional>
#include <vector>

class RowFolders;

// `name` under Unicode case folding where it is UTF-8, else itself: what a volume that ignores
// letter case takes it for.
QByteArray caseFolded(const QByteArray& name);

// What keeps a checked row from getting its new name, as far as can be foreseen.
struct Finding
{
    RowMark mark = RowMark::None;
    int sameNameAs = -1; // the earlier row of its folder that gets the same name, or -1
    bool operator==(const Finding&) const = default;

    // Marks `row` of `list` with it; rows are told in order.
    void tell(FileListModel& list, int row) const;
};

// The first row of a folder to get each new name, found by the name's hash: open addressing in a
// table of at least twice the folder's rows, made before the folder's first row, so that it never
// grows and its probes stay short.
class FirstRowOfName final
{
public:
    void prepare(int rows);

    // The earlier row for which sameName(earlier) holds among those whose name has `hash`; else
    // `row` itself, kept from now on as the first row of its name.
    template <typename SameName> int findOrAdd(size_t hash, int row, const SameName& sameName)
    {
        const size_t mask = m_slots.size() - 1;
        const quint64 tag = quint64(hash) & ~quint64(0xffffffff);
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const quint64 held = m_slots[slot];
            if (held == 0) {
                m_slots[slot] = tag | quint32(row + 1);
                return row;
            }
            const int earlier = static_cast<int>(quint32(held)) - 1;
            if ((held & ~quint64(0xffffffff)) == tag && sameName(earlier))
                return earlier;
        }
    }

private:
    // The upper half of a name's hash and its first row + 1 in the lower half; 0 where free.
    std::vector<quint64> m_slots;
};

// Finds, row after row, what would keep each checked row from getting its new name: the name
// itself, the rows before it in its folder, or the disk. Rows of one folder come one after another.
// Changes nothing of the list, so that it can be asked on another thread while the list's owner
// only reads it.
class ConflictCheck final
{
public:
    ConflictCheck(const FileListModel& list, Platform::FileMover& mover, NameMode mode);

    // byName() for rows[index], and where its name passes, the disk; asked for each index in order,
    // from any first index on.
    Finding byNameAndDisk(const std::vector<int>& rows, int index, RowFolders& folders);

private:
    // What the name and the rows before it of its folder foresee for a row; rows are asked in order.
    Finding byName(int row, RowFolders& folders);
    // For a row whose name passed: TargetExists when another file holds the name now.
    RowMark diskMark(int row, RowFolders& folders);
    // Learns how the row's folder compares and limits names; true when it is another folder than
    // the last row's.
    bool enterFolder(int row, const Platform::FolderHandle& folder);
    // Names the volume takes for one another share a key.
    QByteArray keyOf(const QByteArray& name) const;

    const FileListModel& m_list;
    Platform::FileMover& m_mover;
    const NameMode m_mode;
    std::optional<quint32> m_folderId;
    bool m_namesDiffer = false; // no two rows of the folder get the same name
    bool m_ignoresCase = false;
    Platform::NameLimit m_limit;
    Platform::FolderRefusal m_refusal = Platform::FolderRefusal::None;
    FirstRowOfName m_firstRows;
    QByteArray m_target; // the row's new name, made in the room of the last one
    QByteArray m_earlier; // an earlier row's new name, the same way
    std::vector<Finding> m_compared; // byName() of the rows of one folder, from index m_comparedFrom on
    int m_comparedFrom = 0;
};
