#include "conflict_check.h"

#include "row_folders.h"

#include <QHashFunctions>
#include <QStringDecoder>

#include <algorithm>
#include <bit>

namespace {

// The length of a name as the volume counts it: in bytes, or in UTF-16 units, of which a character
// beyond the first 65,536 takes two.
qsizetype lengthOn(QByteArrayView name, const Platform::NameLimit& limit)
{
    if (!limit.inUtf16Units)
        return name.size();
    qsizetype units = 0;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xc0) != 0x80 ? 1 : 0; // every byte but a continuation begins a character
        units += byte >= 0xf0 ? 1 : 0;
    }
    return units;
}

} // namespace

void Finding::tell(FileListModel& list, int row) const
{
    if (sameNameAs >= 0)
        list.setSameNameAs(row, sameNameAs);
    else
        list.setMark(row, mark);
}

void FirstRowOfName::prepare(int rows)
{
    m_slots.assign(std::bit_ceil(std::max<size_t>(16, 2 * size_t(rows))), 0);
}

ConflictCheck::ConflictCheck(const FileListModel& list, Platform::FileMover& mover, NameMode mode)
    : m_list(list)
    , m_mover(mover)
    , m_mode(mode)
{
}

Finding ConflictCheck::byName(int row, RowFolders& folders)
{
    m_list.previewInto(row, m_target);
    const QByteArray& target = m_target;
    if (!isPlainFileName(target))
        return { RowMark::NameUnusable };
    const std::shared_ptr<const Platform::FolderHandle> shared = folders.of(row);
    const Platform::FolderHandle& folder = *shared;
    if (!folder.isOpen())
        return { RowMark::FolderReplaced };
    if (enterFolder(row, folder)) {
        int folderEnd = row + 1;
        bool oneExtension = true;
        for (; folderEnd < m_list.rowCount() && m_list.folderId(folderEnd) == *m_folderId; ++folderEnd)
            oneExtension
                = oneExtension && (!m_list.isChecked(folderEnd) || m_list.ext(folderEnd) == m_list.ext(row));
        // A folder's names differ, so where each new name is its file's base with one new
        // extension, and the files had one extension, the new names differ too.
        m_namesDiffer = m_mode == NameMode::NewExtension && oneExtension && !m_ignoresCase;
        if (!m_namesDiffer)
            m_firstRows.prepare(folderEnd - row);
    }
    // Asked once a folder: a read-only volume or a folder the program may not write refuses every
    // row of it.
    switch (m_refusal) {
    case Platform::FolderRefusal::ReadOnlyVolume:
        return { RowMark::VolumeReadOnly };
    case Platform::FolderRefusal::NoPermission:
        return { RowMark::NoPermission };
    case Platform::FolderRefusal::None:
        break;
    }
    if (m_mover.refusesName(folder, target))
        return { RowMark::NameUnusable };
    if (lengthOn(target, m_limit) > m_limit.length)
        return { RowMark::NameTooLong };
    if (m_namesDiffer)
        return {};
    const QByteArray key = keyOf(target);
    const int first = m_firstRows.findOrAdd(qHash(key), row, [this, &key](int earlier) {
        m_list.previewInto(earlier, m_earlier);
        return keyOf(m_earlier) == key;
    });
    return first == row ? Finding() : Finding { RowMark::SameNameAsRow, first };
}

Finding ConflictCheck::byNameAndDisk(const std::vector<int>& rows, int index, RowFolders& folders)
{
    // The names of a folder's rows are compared before the disk is asked about any: between
    // look-ups on the disk, each name's place in the table would have left the cache.
    if (index >= m_comparedFrom + static_cast<int>(m_compared.size())) {
        m_compared.clear();
        m_comparedFrom = index;
        const quint32 folder = m_list.folderId(rows[index]);
        for (size_t i = index; i < rows.size() && m_list.folderId(rows[i]) == folder; ++i)
            m_compared.push_back(byName(rows[i], folders));
    }
    const Finding& byNameAlone = m_compared[index - m_comparedFrom];
    return byNameAlone == Finding() ? Finding { diskMark(rows[index], folders) } : byNameAlone;
}

RowMark ConflictCheck::diskMark(int row, RowFolders& folders)
{
    const std::shared_ptr<const Platform::FolderHandle> shared = folders.of(row);
    const Platform::FolderHandle& folder = *shared;
    enterFolder(row, folder);
    m_list.previewInto(row, m_target);
    const QByteArray& target = m_target;
    // The file's own name is no conflict, nor one that differs from it only in letter case where
    // the volume ignores case: the volume finds the file itself, and the move changes the letters.
    // Any other file under the name is.
    const QByteArrayView base = m_list.base(row);
    const QByteArrayView ext = m_list.ext(row);
    if (target.size() == base.size() + ext.size() && target.startsWith(base) && target.endsWith(ext))
        return RowMark::None;
    const std::optional<Platform::FileIdentity> there = Platform::entryIdentity(folder, target);
    if (!there)
        return RowMark::None;
    const QByteArray name = m_list.name(row);
    const bool sameFile
        = (m_ignoresCase && keyOf(target) == keyOf(name)) || Platform::entryIdentity(folder, name) == there;
    return sameFile ? RowMark::None : RowMark::TargetExists;
}

bool ConflictCheck::enterFolder(int row, const Platform::FolderHandle& folder)
{
    if (m_folderId == m_list.folderId(row))
        return false;
    m_folderId = m_list.folderId(row);
    m_ignoresCase = Platform::ignoresLetterCase(folder, m_list.name(row));
    m_limit = Platform::nameLimit(folder);
    m_refusal = Platform::folderRefusal(folder);
    return true;
}

QByteArray ConflictCheck::keyOf(const QByteArray& name) const
{
    return m_ignoresCase ? caseFolded(name) : name;
}

QByteArray caseFolded(const QByteArray& name)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(name);
    return decoder.hasError() ? name : text.toCaseFolded().toUtf8();
}
