#pragma once

#include "platform/platform.h"
#include "runner/runner.h"

#include <QByteArrayList>
#include <QtGlobal>

#include <algorithm>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

// The listing of folders ahead of the walk, on threads of their own.
namespace FolderAllList {

// A folder listed ahead keeps at most this many of its entries until the walk gets to it, and its
// later entries are listed as many at a time once the walk has taken those, so what waits in memory
// stays small however large the folders are.
constexpr int entriesKeptAhead = 1024;

// How a folder listed ahead keeps its entries: a kind byte each, and for a file its name and a NUL.
constexpr char fileEntry = 'f';
constexpr char otherEntry = 'o';

inline bool isDotOrDotDot(QByteArrayView name)
{
    return name == QByteArrayView(".") || name == QByteArrayView("..");
}

inline bool isSubfolderToEnter(const Platform::DirEntry& entry)
{
    return entry.isDirectory && !entry.isTrash && !isDotOrDotDot(entry.name);
}

struct Folder;
using FolderQueue = std::list<std::shared_ptr<Folder>>;

// One folder of the walk. Its parent stays alive, handle open, until every subfolder is opened
// beneath it; the chain of parents is also what the loop check compares against.
struct Folder
{
    enum class State { Waiting, Listing, Listed };

    Folder() = default;
    ~Folder()
    {
        // Released one level at a time here: left to the members, the parents of a deep folder
        // would go one stack frame per level.
        while (parent && parent.use_count() == 1)
            parent = std::move(parent->parent);
    }
    Q_DISABLE_COPY_MOVE(Folder)

    std::shared_ptr<Folder> parent;
    QByteArray name; // in the parent
    QByteArray dir; // folder text
    int depth = 0;
    Platform::FolderHandle handle; // not open once listed: skipped
    State state = State::Waiting;
    QByteArray entries; // in listing order, as fileEntry and otherEntry records
    std::unique_ptr<Platform::DirListing> rest; // the entries beyond those kept
    QByteArrayList laterSubfolders; // those found in the rest, entered after the others' subtrees
    bool failed = false; // listing it failed midway
    bool dropped = false; // no longer in the queue: a folder above it failed
    FolderQueue::iterator place; // in the queue, until taken or dropped
};

// Lists folders ahead of the walk on a few threads and hands them over in depth-first pre-order.
// The queue holds every known folder not yet handed over, in the order the walk takes them: a folder
// listed ahead has its subfolders put right after it, so only the first folders of the queue are
// listed ahead, those the walk takes next.
class ReadAhead final
{
public:
    ReadAhead(std::shared_ptr<Folder> root, int foldersAhead)
        : m_foldersAhead(std::max(1, foldersAhead))
    {
        Folder& first = *root;
        first.place = m_queue.insert(m_queue.end(), std::move(root));
        try {
            for (int i = 0; i < m_foldersAhead; ++i)
                m_threads.push_back(Runner::startThread([this] { listAhead(); }));
        } catch (const std::system_error&) {
            // Fewer threads list fewer folders at once; none cannot walk at all.
            if (m_threads.empty())
                throw;
        }
    }

    ~ReadAhead()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        m_threads.clear();
    }

    Q_DISABLE_COPY_MOVE(ReadAhead)

    // The walk's next folder once it is listed, or null when the walk is done; the runner lets events
    // through until then. Only the walk takes folders from the front of the queue.
    std::shared_ptr<Folder> next(Runner& runner)
    {
        std::unique_lock lock(m_mutex);
        if (m_queue.empty())
            return {};
        runner.waitUntil(m_ready, lock, [this] { return m_queue.front()->state == Folder::State::Listed; });
        std::shared_ptr<Folder> folder = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        m_work.notify_one(); // one more folder now lies within reach
        return folder;
    }

    // The next entries of `folder`, just taken by next() with entries beyond those kept, listed by a
    // listing thread before any other folder; the runner lets events through until then.
    void listMore(const std::shared_ptr<Folder>& folder, Runner& runner)
    {
        std::unique_lock lock(m_mutex);
        folder->state = Folder::State::Waiting;
        m_moreOf = folder;
        m_work.notify_all();
        runner.waitUntil(m_ready, lock, [this] { return !m_moreOf; });
    }

    // Subfolders of `folder`, just taken by next(), that were found after those listed ahead:
    // they go after the subtrees of those, which lead the queue.
    void addSubfolders(const std::shared_ptr<Folder>& folder, const QByteArrayList& names)
    {
        const std::lock_guard lock(m_mutex);
        const auto before = std::find_if(m_queue.begin(), m_queue.end(),
            [&folder](const std::shared_ptr<Folder>& queued) { return queued->depth <= folder->depth; });
        insertSubfolders(folder, names, before);
        m_work.notify_all();
    }

    // Drops the folders below `folder`, just taken by next(), which lead the queue.
    void dropBelow(const Folder& folder)
    {
        const std::lock_guard lock(m_mutex);
        while (!m_queue.empty() && m_queue.front()->depth > folder.depth) {
            m_queue.front()->dropped = true;
            m_queue.pop_front();
        }
        m_work.notify_all();
    }

private:
    void insertSubfolders(
        const std::shared_ptr<Folder>& folder, const QByteArrayList& names, FolderQueue::iterator before)
    {
        for (const QByteArray& name : names) {
            QByteArray dir = folder->dir + name + Platform::Separator;
            // A folder whose path has grown longer than the system takes cannot be listed.
            if (!Platform::fitsPathLimit(dir))
                continue;
            auto subfolder = std::make_shared<Folder>();
            subfolder->parent = folder;
            subfolder->name = name;
            subfolder->dir = std::move(dir);
            subfolder->depth = folder->depth + 1;
            subfolder->place = m_queue.insert(before, subfolder);
        }
    }

    std::shared_ptr<Folder> firstWaitingWithinReach() const
    {
        int position = 0;
        for (const std::shared_ptr<Folder>& folder : m_queue) {
            if (position++ == m_foldersAhead)
                break;
            if (folder->state == Folder::State::Waiting)
                return folder;
        }
        return {};
    }

    void listAhead()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            std::shared_ptr<Folder> folder;
            // The walk's own folder first: the walk waits for it.
            const auto moreWanted = [this] { return m_moreOf && m_moreOf->state == Folder::State::Waiting; };
            m_work.wait(
                lock, [&] { return m_stopping || moreWanted() || (folder = firstWaitingWithinReach()); });
            if (m_stopping)
                return;
            if (moreWanted()) {
                const std::shared_ptr<Folder> walked = m_moreOf;
                walked->state = Folder::State::Listing;
                lock.unlock();
                keepNextEntries(*walked, walked->laterSubfolders);
                lock.lock();
                walked->state = Folder::State::Listed;
                m_moreOf.reset();
                m_ready.notify_one();
                continue;
            }
            folder->state = Folder::State::Listing;
            lock.unlock();
            QByteArrayList subfolders;
            list(*folder, subfolders);
            lock.lock();
            folder->state = Folder::State::Listed;
            if (!folder->dropped) {
                insertSubfolders(folder, subfolders, std::next(folder->place));
                if (subfolders.size() > 1)
                    m_work.notify_all();
                if (m_queue.front() == folder)
                    m_ready.notify_one();
            }
        }
    }

    // Opens `folder` beneath its parent, as the walk would, and keeps its first entries.
    static void list(Folder& folder, QByteArrayList& subfolders)
    {
        try {
            // Opened by its name in the folder above, never through a link: a folder swapped for a
            // link since its parent was listed is skipped, as is one that leads back to a folder
            // above it (a bind mount, or a link a share's server follows). The searched folder is
            // opened as typed: links in its path are followed.
            if (!folder.handle.isOpen()) {
                folder.handle = folder.parent
                    ? Platform::openSubfolderToList(folder.parent->handle, folder.name)
                    : Platform::openFolderToList(folder.dir);
                for (const Folder* above = folder.parent.get(); above && folder.handle.isOpen();
                     above = above->parent.get()) {
                    if (above->handle.identity() == folder.handle.identity())
                        folder.handle = {};
                }
                if (!folder.handle.isOpen())
                    return;
            }
            folder.rest = std::make_unique<Platform::DirListing>(folder.handle);
        } catch (...) {
            folder.failed = true;
            return;
        }
        keepNextEntries(folder, subfolders);
    }

    // Keeps up to entriesKeptAhead more entries of `folder` from its listing, closed once it has none
    // left, and the names of the subfolders to enter among them in `subfolders`.
    static void keepNextEntries(Folder& folder, QByteArrayList& subfolders)
    {
        try {
            Platform::DirEntry entry;
            int kept = 0;
            while (kept < entriesKeptAhead && folder.rest->next(entry)) {
                ++kept;
                if (entry.isDirectory) {
                    folder.entries += otherEntry;
                    if (isSubfolderToEnter(entry))
                        subfolders.append(entry.name.toByteArray());
                } else {
                    folder.entries += fileEntry;
                    folder.entries += entry.name;
                    folder.entries += '\0';
                }
            }
            if (kept < entriesKeptAhead) {
                folder.rest->close();
                folder.rest.reset();
            }
        } catch (...) {
            folder.failed = true;
            folder.rest.reset();
            subfolders.clear();
        }
    }

    const int m_foldersAhead;
    std::mutex m_mutex;
    std::condition_variable m_work; // for the listing threads: a folder within reach, or the end
    std::condition_variable m_ready; // for the walk: the first folder of the queue is listed
    FolderQueue m_queue;
    std::shared_ptr<Folder> m_moreOf; // the walk's folder, whose next entries it waits for
    bool m_stopping = false;
    std::vector<WorkThread> m_threads;
};

} // namespace FolderAllList
