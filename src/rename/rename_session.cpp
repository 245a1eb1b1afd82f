#include "rename_session.h"

#include "platform/file_mover.h"
#include "rename_pass.h"
#include "runner/runner.h"
#include "undo_pass.h"

#include <QElapsedTimer>
#include <QLocale>

namespace {

// Views relayout every row when told about new ones, so during a long search they are told at most
// this often rather than every time events go through.
constexpr qint64 publishIntervalMs = 200;

} // namespace

RenameSession::RenameSession(QByteArray recordFolder)
    : m_recordFolder(std::move(recordFolder))
{
}

bool RenameSession::acceptsSearchPath(const QString& path)
{
    return !Platform::firstMatchingEntry(Platform::pathFromText(path)).isEmpty();
}

SearchResult RenameSession::search(
    const SearchSettings& settings, Runner& runner, const FolderFailureReport& folderFailed)
{
    // A share or a card that does not answer holds the question's thread, not the caller's.
    if (!runner.answer<bool>([path = settings.path] { return acceptsSearchPath(path); }))
        return { SearchResult::Outcome::PathRefused, m_list.rowCount() };
    const QString& filter = settings.filterBy == FilterKind::Suffix ? settings.suffix : settings.keyword;
    const bool stopped = SearchFiles(Platform::pathFromText(settings.path), filter, runner, folderFailed);
    return { stopped ? SearchResult::Outcome::Stopped : SearchResult::Outcome::Searched, m_list.rowCount() };
}

bool RenameSession::SearchFiles(
    const QByteArray& path, const QString& filter, Runner& runner, const FolderFailureReport& folderFailed)
{
    m_list.clear(FolderAllList::folderText(path));
    QElapsedTimer sincePublish;
    sincePublish.start();
    runner.setBeforeEvents([this, &sincePublish] {
        if (sincePublish.hasExpired(publishIntervalMs)) {
            m_list.publishPendingRows();
            sincePublish.restart();
        }
    });
    FolderAllList::ScanContext context {
        [this](const QByteArray& folder, QByteArrayView base, QByteArrayView ext) {
            FolderAllList::AddFileRow(m_list, folder, base, ext);
        },
        folderFailed,
        [&runner] { runner.letEventsThrough(); },
        runner,
    };
    m_list.setSearchedIdentity(FolderAllList::ScanFolder(path, filter, context));
    runner.setBeforeEvents({});
    m_list.publishPendingRows();
    m_list.checkAllRows();
    return runner.stopRequested(RenameProgress::Work::Searching);
}

std::optional<PassResult> RenameSession::applyRule(
    const NewNameRule::Settings& settings, PassKind kind, Runner& runner, const FailureReport& report)
{
    std::optional<PassResult> last;
    for (const NewNameRule::PassValue& value : NewNameRule::passValues(settings, QLocale())) {
        // A stop ends the whole command, not only the pass it came in.
        if (runner.stopRequested(RenameProgress::Work::Moving) || (last && last->end != PassEnd::Completed))
            break;
        last = ApplyNewNames(value.value.toUtf8(), kind, value.mode, runner, report);
    }
    return last;
}

PassResult RenameSession::ApplyNewNames(
    const QByteArray& value, PassKind kind, NameMode mode, Runner& runner, const FailureReport& report)
{
    // A mover of its own for each pass: what a volume refused is learnt anew, since by the next pass
    // another card may sit where the last one was.
    Platform::FileMover mover;
    RenameJournal journal;
    PassResult result
        = applyNewNames(m_list, value, kind, mode, mover, runner, journal, m_recordFolder, report);
    if (journal.moves.empty()) {
        journal.record.release(true);
        return result;
    }
    m_executes.push_back(std::move(journal));
    dropExecutesBeyondKept();
    return result;
}

PassResult RenameSession::undo(Runner& runner, const FailureReport& report)
{
    if (m_executes.empty())
        return {};
    Platform::FileMover mover;
    PassResult result = undoRenames(
        m_executes.back(), std::span(m_executes.data(), m_executes.size() - 1), mover, runner, report);
    if (RenameJournal& taken = m_executes.back(); taken.moves.empty()) {
        // What could not be taken back stays on record, for a later start to try again.
        taken.record.release(!taken.undoFailed);
        m_executes.pop_back();
    }
    m_list.clearMarks();
    return result;
}

RecordsFound RenameSession::takeRecordsLeft(Runner& runner)
{
    if (m_recordFolder.isEmpty())
        return {};
    RecordsLeft left
        = runner.answer<RecordsLeft>([folder = m_recordFolder] { return ::takeRecordsLeft(folder); });
    m_executes.insert(m_executes.begin(), std::make_move_iterator(left.executes.begin()),
        std::make_move_iterator(left.executes.end()));
    dropExecutesBeyondKept();
    return { std::move(left.cutOff), left.unreadable };
}

void RenameSession::dropExecutesBeyondKept()
{
    if (m_executes.size() <= executesKept)
        return;
    const auto beyond = m_executes.begin() + std::ptrdiff_t(m_executes.size() - executesKept);
    for (auto dropped = m_executes.begin(); dropped != beyond; ++dropped)
        dropped->record.release(true);
    m_executes.erase(m_executes.begin(), beyond);
}

size_t RenameSession::undoBytesHeld() const
{
    size_t bytes = 0;
    for (const RenameJournal& journal : m_executes)
        bytes += journal.bytesHeld();
    return bytes;
}
