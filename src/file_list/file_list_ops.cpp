#include "file_list_ops.h"

#include "dialog/message_boxes.h"
#include "dialog/rename_progress.h"
#include "file_list_model.h"
#include "folder_scan/folder_scan.h"
#include "move_thread.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHashFunctions>
#include <QStringDecoder>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <optional>

namespace F1MDE {

namespace {

// Views relayout every row when told about new ones, so during a long search they are told at
// most this often rather than at every yield.
constexpr qint64 publishIntervalMs = 200;

// How often a rename pass lets pending events through: often enough that the window repaints
// smoothly and a screen reader's question waits no longer than a blink, seldom enough that it costs
// the pass nothing measurable.
constexpr qint64 eventIntervalMs = 25;

// Whether `name` can only name an entry of the folder it is resolved in.
bool isPlainFileName(QByteArrayView name)
{
    return !name.isEmpty() && name != QByteArrayView(".") && name != QByteArrayView("..")
        && std::none_of(name.begin(), name.end(), Platform::isSeparator) && !name.contains('\0');
}

// The searched path, as typed, must still lead to the folder the search listed: whoever can write
// the folder above it may have put another folder, or a link to one, in its place. No file can be
// reached otherwise.
Platform::FolderHandle openSearchedFolder(const QByteArray& path, const Platform::FolderIdentity& identity)
{
    Platform::FolderHandle searched = Platform::openFolder(path);
    if (searched.identity() != identity)
        return {};
    return searched;
}

// A row's folder, opened beneath the searched folder without following a symbolic link, so that a
// folder swapped for a link meanwhile cannot lead a move outside the searched tree; not open when it
// can no longer be reached that way.
Platform::FolderHandle openFolderOfRow(
    const Platform::FolderHandle& searched, const QByteArray& searchedPath, const QByteArray& folder)
{
    return folder.startsWith(searchedPath)
        ? Platform::openFolderBeneath(searched, QByteArrayView(folder).sliced(searchedPath.size()))
        : Platform::FolderHandle();
}

// Each row's folder, reached as openFolderOfRow() does; consecutive rows of one folder share the
// handle.
class RowFolders final
{
public:
    explicit RowFolders(const FileListModel& list)
        : m_list(list)
        , m_searched(openSearchedFolder(list.searchedFolder(), list.searchedIdentity()))
    {
    }

    // Not open when the row's folder can no longer be reached.
    const Platform::FolderHandle& of(int row)
    {
        const quint32 id = m_list.folderId(row);
        if (!m_current || *m_current != id) {
            m_current = id;
            m_folder = openFolderOfRow(m_searched, m_list.searchedFolder(), m_list.folder(row));
        }
        return m_folder;
    }

private:
    const FileListModel& m_list;
    Platform::FolderHandle m_searched;
    std::optional<quint32> m_current;
    Platform::FolderHandle m_folder;
};

// What a failed move's error says about it.
RowMark failureOf(int error)
{
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        return RowMark::FailedTargetExists;
    case ENOENT:
        return RowMark::FailedSourceMissing;
    case EACCES:
    case EPERM:
        return RowMark::FailedNoPermission;
    case EBUSY:
    case ETXTBSY:
        return RowMark::FailedInUse;
    case EINVAL:
    case EILSEQ:
        return RowMark::FailedNameUnusable;
    case ENAMETOOLONG:
        return RowMark::FailedNameTooLong;
    case EROFS:
        return RowMark::FailedReadOnlyVolume;
    default:
        return RowMark::Failed;
    }
}

// Moves `row`'s file to its preview name: Renamed, or what made the move fail.
RowMark moveToPreview(const FileListModel& list, int row, const Platform::FolderHandle& folder,
    Platform::FileMover& mover, bool& moved)
{
    moved = false;
    const QByteArray target = list.preview(row);
    if (!isPlainFileName(target))
        return RowMark::FailedNameUnusable;
    if (!folder.isOpen())
        return RowMark::FailedFolderReplaced;
    const QByteArray name = list.name(row);
    if (target == name)
        return Platform::entryExists(folder, name) ? RowMark::Renamed : RowMark::FailedSourceMissing;
    const int error = mover.move(folder, name, target).error;
    moved = error == 0;
    return error == 0 ? RowMark::Renamed : failureOf(error);
}

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

// The first row of a folder to get each new name, found by the name's hash: open addressing in a
// table of at least twice the folder's rows, made before the folder's first row, so that it never
// grows and its probes stay short.
class FirstRowOfName final
{
public:
    void prepare(int rows) { m_slots.assign(std::bit_ceil(std::max<size_t>(16, 2 * size_t(rows))), 0); }

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
class ConflictCheck final
{
public:
    ConflictCheck(FileListModel& list, Platform::FileMover& mover, bool extensionMode)
        : m_list(list)
        , m_mover(mover)
        , m_extensionMode(extensionMode)
    {
        list.forgetSameNames();
    }

    // What the name and the rows before it of its folder foresee for a row, as a found() value.
    // Changes nothing of the list, so that it can be asked on another thread; rows are asked in
    // order.
    int byName(int row, RowFolders& folders)
    {
        m_list.previewInto(row, m_target);
        const QByteArray& target = m_target;
        if (!isPlainFileName(target))
            return found(RowMark::NameUnusable);
        const Platform::FolderHandle& folder = folders.of(row);
        if (!folder.isOpen())
            return found(RowMark::FolderReplaced);
        if (enterFolder(row, folder)) {
            int folderEnd = row + 1;
            bool oneExtension = true;
            for (; folderEnd < m_list.rowCount() && m_list.folderId(folderEnd) == *m_folderId; ++folderEnd)
                oneExtension = oneExtension
                    && (!m_list.isChecked(folderEnd) || m_list.ext(folderEnd) == m_list.ext(row));
            // A folder's names differ, so where each new name is its file's base with one new
            // extension, and the files had one extension, the new names differ too.
            m_namesDiffer = m_extensionMode && oneExtension && !m_ignoresCase;
            if (!m_namesDiffer)
                m_firstRows.prepare(folderEnd - row);
        }
        if (m_mover.refusesName(folder, target))
            return found(RowMark::NameUnusable);
        if (lengthOn(target, m_limit) > m_limit.length)
            return found(RowMark::NameTooLong);
        if (m_namesDiffer)
            return found(RowMark::None);
        const QByteArray key = keyOf(target);
        const int first = m_firstRows.findOrAdd(qHash(key), row, [this, &key](int earlier) {
            m_list.previewInto(earlier, m_earlier);
            return keyOf(m_earlier) == key;
        });
        return first == row ? found(RowMark::None) : -(first + 1);
    }

    // byName() for rows[index], and where its name passes, the disk; asked for each index in order.
    int byNameAndDisk(const std::vector<int>& rows, int index, RowFolders& folders)
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
        const int byNameAlone = m_compared[index - m_comparedFrom];
        return byNameAlone == found(RowMark::None) ? found(diskMark(rows[index], folders)) : byNameAlone;
    }

    // What was found for a row: a mark, or -(row + 1) for a row that gets the same name as an earlier
    // row, which must have been told before.
    static int found(RowMark mark) { return static_cast<int>(mark); }
    static void tell(FileListModel& list, int row, int what)
    {
        if (what < 0)
            list.setSameNameAs(row, -what - 1);
        else
            list.setMark(row, static_cast<RowMark>(what));
    }

    // For a row whose name passed: TargetExists when another file holds the name now. Changes
    // nothing of the list, so that it can be asked on another thread.
    RowMark diskMark(int row, RowFolders& folders)
    {
        const Platform::FolderHandle& folder = folders.of(row);
        enterFolder(row, folder);
        m_list.previewInto(row, m_target);
        const QByteArray& target = m_target;
        // The file's own name is no conflict, nor one that differs from it only in letter case where
        // the volume ignores case: the volume finds the file itself, and the move changes the
        // letters. Any other file under the name is.
        const QByteArrayView base = m_list.base(row);
        const QByteArrayView ext = m_list.ext(row);
        if (target.size() == base.size() + ext.size() && target.startsWith(base) && target.endsWith(ext))
            return RowMark::None;
        const std::optional<Platform::FileIdentity> there = Platform::entryIdentity(folder, target);
        if (!there)
            return RowMark::None;
        const QByteArray name = m_list.name(row);
        const bool sameFile = (m_ignoresCase && keyOf(target) == keyOf(name))
            || Platform::entryIdentity(folder, name) == there;
        return sameFile ? RowMark::None : RowMark::TargetExists;
    }

private:
    // Learns how the row's folder compares and limits names; true when it is another folder than
    // the last row's.
    bool enterFolder(int row, const Platform::FolderHandle& folder)
    {
        if (m_folderId == m_list.folderId(row))
            return false;
        m_folderId = m_list.folderId(row);
        m_ignoresCase = Platform::ignoresLetterCase(folder, m_list.name(row));
        m_limit = Platform::nameLimit(folder);
        return true;
    }

    // Names the volume takes for one another share a key.
    QByteArray keyOf(const QByteArray& name) const
    {
        if (!m_ignoresCase)
            return name;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder(name);
        return decoder.hasError() ? name : text.toCaseFolded().toUtf8();
    }

    FileListModel& m_list;
    Platform::FileMover& m_mover;
    const bool m_extensionMode;
    std::optional<quint32> m_folderId;
    bool m_namesDiffer = false; // no two rows of the folder get the same name
    bool m_ignoresCase = false;
    Platform::NameLimit m_limit;
    FirstRowOfName m_firstRows;
    QByteArray m_target; // the row's new name, made in the room of the last one
    QByteArray m_earlier; // an earlier row's new name, the same way
    std::vector<int> m_compared; // byName() of the rows of one folder, from index m_comparedFrom on
    int m_comparedFrom = 0;
};

// Lets pending events through every little while.
class EventGate final
{
public:
    EventGate() { m_sinceEvents.start(); }
    void letThrough()
    {
        if (!m_sinceEvents.hasExpired(eventIntervalMs))
            return;
        QCoreApplication::processEvents();
        m_sinceEvents.restart();
    }

private:
    QElapsedTimer m_sinceEvents;
};

// Runs the file operations of a pass on a thread of their own, one after another in order, so that
// an operation that takes long (a rename on a busy network share) never holds the window: the
// window's thread takes each outcome as it comes, shows the progress, reports failures one by one
// (the thread waits for each report) and lets events through every little while.
class PassPace final
{
public:
    PassPace(RenameFeedback& feedback, int total, RenameProgress::Work work = RenameProgress::Work::Moving)
        : m_feedback(feedback)
        , m_total(total)
        , m_work(work)
    {
    }

    // Runs operate(0) ... operate(total - 1) on the thread, each returning 0 or what made it fail,
    // and hands each outcome to `taken` on this thread, in order. Stops after the operation in
    // progress when the progress asks it to; returns how many operations ran.
    int run(std::function<int(int index)> operate, const std::function<void(int index, int result)>& taken)
    {
        RenameProgress* const progress = m_feedback.progress;
        // Only a failed move is reported, with a box; a look-up's outcome is a mark.
        MoveThread thread(
            m_total, std::move(operate),
            [progress, work = m_work] { return progress && progress->stopRequested(work); },
            m_work == RenameProgress::Work::Moving);
        std::vector<MoveThread::Outcome> outcomes;
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        for (;;) {
            const auto untilEvents
                = std::chrono::milliseconds(std::max<qint64>(0, eventIntervalMs - sinceEvents.elapsed()));
            if (!thread.takeOutcomes(outcomes, untilEvents))
                break;
            for (const MoveThread::Outcome& outcome : outcomes) {
                ++m_done;
                taken(outcome.index, outcome.result);
                if (outcome.result != 0)
                    thread.failureReported();
            }
            outcomes.clear();
            if (sinceEvents.hasExpired(eventIntervalMs)) {
                // The progress shows what is done before the events draw it.
                showProgress();
                QCoreApplication::processEvents();
                sinceEvents.restart();
            }
        }
        return m_done;
    }
    void reportFailure(const QByteArray& path)
    {
        showProgress();
        m_feedback.messages.show(
            QStringLiteral("ERROR"), QStringLiteral(" 修改失败！项目地址: ") + QString::fromUtf8(path));
    }

private:
    void showProgress()
    {
        if (m_feedback.progress)
            m_feedback.progress->show(m_work, m_done, m_total);
    }

    RenameFeedback& m_feedback;
    int m_total;
    RenameProgress::Work m_work;
    int m_done = 0;
};

// Keeps each move of an execute in the journal.
class JournalWriter final
{
public:
    JournalWriter(
        RenameJournal* journal, const FileListModel& list, const QByteArray& value, bool extensionMode)
        : m_journal(journal)
    {
        if (!m_journal)
            return;
        m_journal->searchedFolder = list.searchedFolder();
        m_journal->searchedIdentity = list.searchedIdentity();
        m_journal->value = value;
        m_journal->extensionMode = extensionMode;
    }
    ~JournalWriter()
    {
        if (!m_journal)
            return;
        // Growing by doubling leaves up to half the room unused; an undo list keeps none.
        m_journal->moves.shrink_to_fit();
        m_journal->names.shrink_to_fit();
        m_journal->folders.shrink_to_fit();
    }
    Q_DISABLE_COPY_MOVE(JournalWriter)

    void add(const FileListModel& list, int row, const Platform::FolderHandle& folder)
    {
        if (!m_journal)
            return;
        const std::optional<Platform::FileIdentity> file = Platform::entryIdentity(folder, list.preview(row));
        // A file the system cannot tell from another could not be checked before moving it back.
        if (!file)
            return;
        if (m_folderId != list.folderId(row)) {
            m_folderId = list.folderId(row);
            m_journal->folders.push_back({ list.folder(row), folder.identity() });
        }
        const QByteArrayView base = list.base(row);
        const QByteArrayView ext = list.ext(row);
        m_journal->moves.push_back(
            { *file, m_journal->names.size(), static_cast<quint32>(m_journal->folders.size() - 1),
                static_cast<quint16>(base.size()), static_cast<quint16>(ext.size()) });
        m_journal->names.insert(m_journal->names.end(), base.begin(), base.end());
        m_journal->names.insert(m_journal->names.end(), ext.begin(), ext.end());
    }

private:
    RenameJournal* m_journal;
    std::optional<quint32> m_folderId;
};

// Moves each of `rows` to its preview name, marks what became of it, reports each failure and keeps
// each move in the journal; returns how many files were renamed. An execute asks the disk only about
// the rows it does not reach: each move answers for its own row, and more surely.
int moveToPreviews(FileListModel& list, const std::vector<int>& rows, RowFolders& folders,
    Platform::FileMover& mover, ConflictCheck& check, JournalWriter& journal, RenameFeedback& feedback)
{
    qint32 completed = 0;
    PassPace pace(feedback, static_cast<int>(rows.size()));
    // The folders, the moves and the journal's look-ups are the thread's alone while it runs; it
    // only reads the rows, and the window's thread changes nothing of them but their marks.
    const int reached = pace.run(
        [&](int index) {
            const int row = rows[index];
            const Platform::FolderHandle& folder = folders.of(row);
            bool moved = false;
            const RowMark outcome = moveToPreview(list, row, folder, mover, moved);
            if (moved)
                journal.add(list, row, folder);
            return outcome == RowMark::Renamed ? 0 : static_cast<int>(outcome);
        },
        [&](int index, int result) {
            const int row = rows[index];
            list.setMark(row, result == 0 ? RowMark::Renamed : static_cast<RowMark>(result));
            ++completed;
            if (result != 0) {
                pace.reportFailure(list.fullPath(row));
                --completed;
            }
        });
    // A stopped pass leaves its other rows marked as a preview would.
    EventGate events;
    for (int index = reached; index < static_cast<int>(rows.size()); ++index) {
        if (list.mark(rows[index]) == RowMark::None)
            list.setMark(rows[index], check.diskMark(rows[index], folders));
        events.letThrough();
    }
    return completed;
}

} // namespace

void SearchFiles(FileListModel& list, const QByteArray& path, const QString& filter, MessageBoxes& messages)
{
    list.clear(FolderAllList::folderText(path));
    QElapsedTimer sincePublish;
    sincePublish.start();
    const auto letEventsThrough = [&list, &sincePublish] {
        if (sincePublish.hasExpired(publishIntervalMs)) {
            list.publishPendingRows();
            sincePublish.restart();
        }
        QCoreApplication::processEvents();
    };
    FolderAllList::ScanContext context {
        [&list](const QByteArray& folder, QByteArrayView base, QByteArrayView ext) {
            FolderAllList::AddFileRow(list, folder, base, ext);
        },
        messages,
        letEventsThrough,
    };
    context.whileWaiting = letEventsThrough;
    list.setSearchedIdentity(FolderAllList::ScanFolder(path, filter, context));
    list.publishPendingRows();
    list.checkAllRows();
}

void ApplyNewNames(
    FileListModel& list, const QByteArray& value, bool sMode, bool extensionMode, RenameFeedback& feedback)
{
    const int rowCount = list.rowCount();
    const quint32 pass = list.beginPreviewPass(value, extensionMode);
    int firstChanged = rowCount;
    int lastChanged = -1;
    RowFolders folders(list);
    Platform::FileMover mover
        = feedback.moveSteps ? Platform::FileMover(*feedback.moveSteps) : Platform::FileMover();
    ConflictCheck check(list, mover, extensionMode);
    std::vector<int> checkedRows;
    {
        EventGate events;
        for (int row = 0; row < rowCount; ++row) {
            if (!list.isChecked(row) && list.mark(row) == RowMark::None)
                continue;
            list.setMark(row, RowMark::None);
            if (list.isChecked(row)) {
                list.setPreviewPass(row, pass);
                checkedRows.push_back(row);
            }
            firstChanged = std::min(firstChanged, row);
            lastChanged = row;
            if (row % 1024 == 0)
                events.letThrough();
        }
    }
    // The names are compared, and for a preview the disk asked, on a thread of their own, as the
    // moves are, so that a slow answer (from a busy network share) never holds the window; with the
    // same progress and stop.
    PassPace checking(feedback, static_cast<int>(checkedRows.size()), RenameProgress::Work::Checking);
    const int compared = checking.run(
        [&](int index) {
            return sMode ? check.byName(checkedRows[index], folders)
                         : check.byNameAndDisk(checkedRows, index, folders);
        },
        [&](int index, int what) { ConflictCheck::tell(list, checkedRows[index], what); });
    if (!sMode) {
        list.notifyPreviewsChanged(firstChanged, lastChanged);
        return;
    }
    int completed = 0;
    // Stopped while the names were compared, an execute moves nothing.
    if (compared == static_cast<int>(checkedRows.size())) {
        JournalWriter journal(feedback.journal, list, value, extensionMode);
        completed = moveToPreviews(list, checkedRows, folders, mover, check, journal, feedback);
    }
    list.notifyPreviewsChanged(firstChanged, lastChanged);
    feedback.showCompletion(QStringLiteral("已完成 %1 个文件修改!").arg(completed));
}

QByteArray RenameJournal::oldName(const Move& move) const
{
    return QByteArray(names.data() + move.nameOffset, move.baseLength + move.extLength);
}

QByteArray RenameJournal::newName(const Move& move) const
{
    const QByteArrayView name(names.data() + move.nameOffset, move.baseLength + move.extLength);
    return extensionMode ? name.first(move.baseLength).toByteArray() + value
                         : value + name.sliced(move.baseLength).toByteArray();
}

size_t RenameJournal::bytesHeld() const
{
    size_t bytes = sizeof *this + searchedFolder.capacity() + value.capacity()
        + folders.capacity() * sizeof(Folder) + moves.capacity() * sizeof(Move) + names.capacity();
    for (const Folder& folder : folders)
        bytes += folder.text.capacity();
    return bytes;
}

void UndoRenames(RenameJournal& journal, RenameFeedback& feedback)
{
    Platform::FolderHandle searched;
    Platform::FileMover mover
        = feedback.moveSteps ? Platform::FileMover(*feedback.moveSteps) : Platform::FileMover();
    const int total = static_cast<int>(journal.moves.size());
    const auto moveOf = [&journal, total](int index) -> const RenameJournal::Move& {
        return journal.moves[total - 1 - index];
    };
    qint32 undone = 0;
    std::optional<quint32> folderIndex;
    Platform::FolderHandle folder;
    PassPace pace(feedback, total);
    // The thread opens the folders and moves; the journal stays as it is until the pass has ended.
    const int reached = pace.run(
        [&](int index) {
            if (index == 0)
                searched = openSearchedFolder(journal.searchedFolder, journal.searchedIdentity);
            const RenameJournal::Move& move = moveOf(index);
            const RenameJournal::Folder& recorded = journal.folders[move.folder];
            if (folderIndex != move.folder) {
                folderIndex = move.folder;
                folder = openFolderOfRow(searched, journal.searchedFolder, recorded.text);
                // The folder must still be the one the execute moved the file in.
                if (folder.identity() != recorded.identity)
                    folder = {};
            }
            const QByteArray newName = journal.newName(move);
            // Only the file the execute renamed goes back: not one put under its name since.
            const bool back = folder.isOpen() && Platform::entryIdentity(folder, newName) == move.file
                && mover.move(folder, newName, journal.oldName(move)).error == 0;
            return back ? 0 : 1;
        },
        [&](int index, int result) {
            if (result == 0) {
                ++undone;
                return;
            }
            const RenameJournal::Move& move = moveOf(index);
            pace.reportFailure(journal.folders[move.folder].text + journal.newName(move));
        });
    // What was not reached stays to be taken back; folders and names stay with it.
    journal.moves.resize(total - reached);
    feedback.showCompletion(QStringLiteral("已撤销 %1 个文件修改!").arg(undone));
}

} // namespace F1MDE
