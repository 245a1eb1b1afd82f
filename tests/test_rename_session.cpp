#include "rename_fixture.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>

#include <memory>
#include <optional>
#include <random>
#include <tuple>

#ifndef _WIN32
#include "delaying_proxy.h"
#include "sshfs_share.h"
#include "system_stand_in.h"

#include <QTemporaryDir>

#include <csignal>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#endif

class TestRenameSession final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { Volumes::unmountAll(); }
    void stoppedPasses_data();
    void stoppedPasses();
#ifndef _WIN32
    void aLostVolumeEndsThePass_data();
    void aLostVolumeEndsThePass();
    void overlappedMovesEndAsOneAtATime_data();
    void overlappedMovesEndAsOneAtATime();
    void twoExecutesTakenBackOnAShare_data();
    void twoExecutesTakenBackOnAShare();
    void killedWhileLinking_data();
    void killedWhileLinking();
#endif
};

void TestRenameSession::stoppedPasses_data()
{
    QTest::addColumn<bool>("sMode");
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("onShare"); // over sshfs with 10 ms round trips, as a NAS across a network
    QTest::addColumn<bool>("namesTaken"); // every new name is taken already
    QTest::addColumn<int>("folders"); // the files spread over as many
    QTest::addColumn<int>("stopAfter"); // moves or look-ups; on a share, once moves overlap
    QTest::newRow("preview") << false << 10 << false << true << 1 << 3;
    QTest::newRow("execute") << true << 10 << false << true << 1 << 3;
#ifndef _WIN32
    // The new names free, so that a look-up of each would ask the server, as no cache answers it.
    QTest::newRow("execute on a slow share") << true << 2000 << true << false << 1 << 20;
    // Moves of later folders start ahead of earlier ones: those under way at the stop end, out of
    // their order.
    QTest::newRow("execute on a slow share, in 40 folders") << true << 2000 << true << false << 40 << 20;
#endif
}

// The new names are compared and looked up one row after another, as the moves go, and can be
// stopped as they can: a preview marks the rows it reached and shows every new name. An execute
// compares nothing beforehand, since each move answers for its own row; stopped, it leaves the rows
// it did not reach unmarked, as a stopped preview does, without asking the disk about them: on a
// share that takes a round trip a row, that would hold the pass for seconds after the stop.
void TestRenameSession::stoppedPasses()
{
    QFETCH(bool, sMode);
    QFETCH(int, files);
    QFETCH(bool, onShare);
    QFETCH(bool, namesTaken);
    QFETCH(int, folders);
    QFETCH(int, stopAfter);
    const auto folderName = [folders](int folder) {
        return folders == 1 ? QByteArray() : "d" + QByteArray::number(folder) + "/";
    };
    const auto fileName
        = [&](int i) { return folderName(i / (files / folders)) + "f" + QByteArray::number(i); };
#ifndef _WIN32
    // Unmounted, and sshd ended, once the session has let go of the share's folders; the proxy
    // then has no connection left to wait for.
    QTemporaryDir served;
    std::unique_ptr<Loopback::DelayingProxy> proxy;
    std::unique_ptr<SshfsShare> share;
    if (onShare) {
        share = std::make_unique<SshfsShare>(QFile::encodeName(served.path()));
        if (!share->whyNot().isEmpty())
            QSKIP(share->whyNot().constData());
        proxy = std::make_unique<Loopback::DelayingProxy>(share->port(), std::chrono::milliseconds(10) / 2);
        QVERIFY2(share->mount(proxy->port()), share->whyNot().constData());
    }
#endif
    std::optional<Session> session;
    std::function<QByteArrayList()> names; // the files as the disk holds them
#ifndef _WIN32
    // Unmounted before the session goes, its tree then removed where the server keeps it: through
    // the share each removal would take round trips.
    const auto unmountedFirst = qScopeGuard([&share] {
        if (share)
            share->unmount();
    });
#endif
    if (onShare) {
#ifndef _WIN32
        session.emplace(share->root());
        // Made where the server keeps them: through the share each would take round trips.
        const QByteArray server
            = QFile::encodeName(served.path()) + session->tree.root().mid(share->root().size());
        for (int folder = 0; folder < folders; ++folder)
            QVERIFY(QDir().mkpath(QFile::decodeName(server + "/" + folderName(folder))));
        for (int i = 0; i < files; ++i) {
            QVERIFY(TestTree::makeFile(server + "/" + fileName(i) + ".txt"));
            QVERIFY(!namesTaken || TestTree::makeFile(server + "/" + fileName(i) + ".md"));
        }
        names = [server, folders, folderName] {
            QByteArrayList found;
            for (int folder = 0; folder < folders; ++folder)
                found += namesIn(server + "/" + folderName(folder));
            return found;
        };
#endif
    } else {
        session.emplace();
        for (int i = 0; i < files; ++i) {
            session->tree.createFile(fileName(i) + ".txt");
            if (namesTaken)
                session->tree.createFile(fileName(i) + ".md");
        }
        names = [&session] { return session->tree.snapshot().keys(); };
    }
    const QByteArrayList before = names();
    session->search();
    QCOMPARE(session->list.rowCount(), files);
    StoppingProgress progress(
        stopAfter, sMode ? RenameProgress::Work::Moving : RenameProgress::Work::Checking);
    session->progress = &progress;
    session->apply(".md", sMode ? PassKind::Execute : PassKind::Preview, NameMode::NewExtension);
    const qint64 afterStopMs = progress.sinceStop.elapsed();

    // On a share, the moves under way at the stop end too; none starts after it.
    const int reached = progress.moves;
    QCOMPARE_GE(reached, stopAfter);
    QCOMPARE_LE(reached, onShare && sMode ? stopAfter + movesAtOnce - 1 : stopAfter);
    QCOMPARE(session->lastEnd, PassEnd::Stopped);
    for (const auto& [done, total] : progress.shown)
        QVERIFY(done <= reached && total == files);
    // In one folder the rows reached are the first; in several, any, but each is marked.
    int marked = 0;
    for (int row = 0; row < files; ++row) {
        QCOMPARE(session->list.preview(row), session->list.base(row).toByteArray() + ".md");
        const QString reachedMark = !namesTaken ? u"已修改"_s
            : sMode                             ? u"修改失败：目标已存在"_s
                                                : u"目标已存在"_s;
        const QString mark = session->markOf(row);
        if (folders == 1)
            QCOMPARE(mark, row < reached ? reachedMark : QString());
        else
            QVERIFY2(mark == reachedMark || mark.isEmpty(), qPrintable(mark));
        marked += mark.isEmpty() ? 0 : 1;
    }
    QCOMPARE(marked, reached);
    const int renamed = namesTaken ? 0 : reached;
    if (namesTaken) {
        QCOMPARE(names(), before);
    } else {
        const QByteArrayList after = names();
        QCOMPARE(after.size(), before.size());
        QCOMPARE(std::count_if(
                     after.begin(), after.end(), [](const QByteArray& name) { return name.endsWith(".md"); }),
            renamed);
    }
    QCOMPARE(session->renamed, sMode ? QList<int> { renamed } : QList<int>());
    QCOMPARE(session->failures.size(), sMode && namesTaken ? reached : 0);
    // A look-up of each row not reached would take 20 s there; the pass ends with the move in
    // flight, well within a second, loaded machine or not.
    if (onShare)
        QCOMPARE_LT(afterStopMs, 2000);
}

#ifndef _WIN32
void TestRenameSession::aLostVolumeEndsThePass_data()
{
    QTest::addColumn<QString>("lost");
    QTest::addColumn<int>("movedBefore");
    // A card pulled mid-execute: its driver gone, every later move would fail.
    QTest::newRow("exFAT driver killed") << u"exfat"_s << 5;
    // A network share whose connection drops mid-execute: sshfs gone between two moves, as a card's
    // driver is; or while a move waits on it, which the kernel then ends as cut off mid-call.
    QTest::newRow("share's sshfs killed") << u"share"_s << 5;
    QTest::newRow("share's sshfs killed during a move") << u"share, during a move"_s << 3;
    // The searched folder, and the folder of the next rows, moved away mid-execute: the pass ends.
    // Once both are back, the undo takes back what the pass did.
    QTest::newRow("searched folder moved away and back") << u"moved"_s << 5;
}

void TestRenameSession::aLostVolumeEndsThePass()
{
    QFETCH(QString, lost);
    QFETCH(int, movedBefore);
    const bool driverKilled = lost != u"moved";
    // Unmounted, and the share's sshd ended, once the session has let go of their folders.
    std::unique_ptr<MountedVolume> volume;
    QTemporaryDir served; // the share's files, as its server keeps them
    std::unique_ptr<SshfsShare> share;
    Session session;
    QByteArray card = session.tree.path("card");
    pid_t driver = 0;
    if (lost == u"exfat") {
        volume = std::make_unique<MountedVolume>(u"exfat"_s);
        if (!volume->isMounted() || volume->driverProcess() == 0)
            QSKIP(qPrintable(u"no exFAT volume through FUSE: "_s + volume->whyNot()));
        card = volume->root() + "/card";
        driver = static_cast<pid_t>(volume->driverProcess());
    } else if (driverKilled) {
        if (const QByteArray missing = SshfsShare::missing(); !missing.isEmpty())
            QSKIP(missing.constData());
        share = std::make_unique<SshfsShare>(QFile::encodeName(served.path()));
        QVERIFY2(share->whyNot().isEmpty() && share->mount(), share->whyNot().constData());
        card = share->root() + "/card";
        driver = static_cast<pid_t>(share->driverProcess());
    }
    for (const char* folder : { "/DCIM/a", "/DCIM/b" }) {
        QVERIFY(QDir().mkpath(QFile::decodeName(card + folder)));
        for (int i = 0; i < 5; ++i) {
            QFile file(QFile::decodeName(card + folder + "/IMG_" + QByteArray::number(i) + ".txt"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    session.searchIn(card, u".txt"_s);
    constexpr int files = 10;
    QCOMPARE(session.list.rowCount(), files);
    // The rows of the folder the search found first are moved; then the volume goes.
    const QByteArray first = session.list.folder(0);
    const QByteArray second = session.list.folder(files - 1);
    QCOMPARE(session.list.folder(movedBefore - 1), first);

    const QByteArray away = session.tree.path("away");
    // On the moving thread, where QTest cannot report: what happened is checked after the pass.
    bool acted = false;
    std::jthread killer;
    ActingProgress progress(movedBefore, [&] {
        if (!driverKilled) {
            acted = QDir().rename(QFile::decodeName(second), QFile::decodeName(second.chopped(1) + "-away"))
                && QDir().rename(QFile::decodeName(card), QFile::decodeName(away));
            return;
        }
        if (lost == u"share, during a move") {
            // Stopped, sshfs leaves the next move waiting, never sent to the server; it is killed
            // while the move waits.
            ::kill(driver, SIGSTOP);
            const QDeadlineTimer stopping(10000);
            while (!hasStopped(driver) && !stopping.hasExpired())
                QThread::msleep(5);
            killer = std::jthread([&] {
                const QDeadlineTimer deadline(10000);
                while (!(acted = aThreadWaitsInAMove()) && !deadline.hasExpired())
                    QThread::msleep(5);
                ::kill(driver, SIGKILL);
            });
            return;
        }
        ::kill(driver, SIGKILL);
        // The kernel cuts the volume off once the driver's end of it has closed.
        const QDeadlineTimer deadline(10000);
        while (!acted && !deadline.hasExpired()) {
            acted = ::access(card.constData(), F_OK) != 0 && errno == ENOTCONN;
            QThread::msleep(10);
        }
    });
    session.progress = &progress;
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    if (killer.joinable())
        killer.join();
    QVERIFY(acted);

    // One box, for the first move that found the volume gone; the files before it renamed. On a
    // slow volume, moves around it may have been under way when it went: the box is for the first of them
    // to fail, each after it is renamed or failed with the volume, and none after those was tried.
    int firstFailed = 0;
    while (firstFailed < files && session.markOf(firstFailed) == u"已修改"_s)
        ++firstFailed;
    const int underWay = driverKilled ? movesAtOnce - 1 : 0;
    QCOMPARE_LE(firstFailed, movedBefore);
    QCOMPARE_GE(firstFailed, movedBefore - underWay);
    QCOMPARE(session.failures.size(), 1);
    QCOMPARE(session.failures[0].reason, RowMark::FailedVolumeLost);
    QCOMPARE(session.failures[0].path, session.list.fullPath(firstFailed));
    int renamed = 0;
    for (int row = 0; row < files; ++row) {
        const QString mark = session.markOf(row);
        renamed += mark == u"已修改"_s ? 1 : 0;
        if (row < firstFailed)
            QCOMPARE(mark, u"已修改"_s);
        else if (row == firstFailed)
            QCOMPARE(mark, u"修改失败：卷已断开"_s);
        else if (row <= firstFailed + underWay && session.markOf(row - 1) != u"未修改：卷已断开"_s)
            QVERIFY2(mark == u"已修改"_s || mark == u"修改失败：卷已断开"_s || mark == u"未修改：卷已断开"_s,
                qPrintable(mark));
        else
            QCOMPARE(mark, u"未修改：卷已断开"_s);
    }
    QCOMPARE(session.renamed, QList<int> { renamed });
    // Each file renamed before the loss is under its new name, each not tried under its old one. A
    // move the share was cut off from midway may have been made, or only its link: the file is
    // then under either name or both, never lost.
    const auto namesAfter = [&](const QByteArray& firstFolder, const QByteArray& secondFolder) {
        QByteArrayList expected;
        QByteArrayList found;
        for (const QByteArray& name : namesIn(firstFolder))
            found.append("first/" + name);
        for (const QByteArray& name : namesIn(secondFolder))
            found.append("second/" + name);
        for (int row = 0; row < files; ++row) {
            const QString mark = session.markOf(row);
            const QByteArray folder = row < files / 2 ? "first/" : "second/";
            const QByteArray name = folder + session.list.name(row);
            const QByteArray preview = folder + session.list.preview(row);
            if (driverKilled && row >= firstFailed && mark == u"修改失败：卷已断开"_s) {
                const qsizetype there = found.removeAll(name) + found.removeAll(preview);
                if (there == 0)
                    return QByteArrayList { "lost: " + name };
                continue;
            }
            expected.append(mark == u"已修改"_s ? preview : name);
        }
        std::sort(expected.begin(), expected.end());
        std::sort(found.begin(), found.end());
        return found == expected ? QByteArrayList() : found;
    };
    const QByteArrayList untouched { "IMG_0.txt", "IMG_1.txt", "IMG_2.txt", "IMG_3.txt", "IMG_4.txt" };

    QByteArray firstRead = first;
    QByteArray secondRead = second;
    if (volume) {
        QVERIFY2(volume->mountAgain(), qPrintable(volume->whyNot()));
    } else if (share) {
        // Read on the server, which holds the files whatever a client cached of them.
        const QByteArray server = QFile::encodeName(served.path());
        firstRead = server + first.mid(share->root().size());
        secondRead = server + second.mid(share->root().size());
    } else {
        QVERIFY(QDir().rename(QFile::decodeName(away), QFile::decodeName(card)));
        QVERIFY(QDir().rename(QFile::decodeName(second.chopped(1) + "-away"), QFile::decodeName(second)));
    }
    const QByteArrayList unexpected = namesAfter(firstRead, secondRead);
    QVERIFY2(unexpected.isEmpty(), unexpected.join(' ').constData());
    if (driverKilled)
        return;
    session.progress = nullptr;
    session.undo();
    QCOMPARE(session.renamed, (QList<int> { renamed, renamed }));
    QCOMPARE(session.failures.size(), 1);
    QCOMPARE(namesIn(first), untouched);
}
#endif

#ifndef _WIN32
void TestRenameSession::overlappedMovesEndAsOneAtATime_data()
{
    QTest::addColumn<quint32>("seed");
    for (const quint32 seed : { 1u, 2u, 3u, 4u, 5u, 6u })
        QTest::newRow(qPrintable(u"seed %1"_s.arg(seed))) << seed;
}

// Random plans over two folders, whose rows come mixed and whose names meet within each: rows that
// take one name, names already taken, changes of letter case, rows that keep their name, names no
// folder holds. On a share with 10 ms round trips the moves overlap, within a folder and across the
// two, out of their order; on local disk they go one at a time. Every outcome is the same:
// the names on the disk, each row's mark, the failures in order and the count, of the execute and
// of its undo, which brings every name back.
void TestRenameSession::overlappedMovesEndAsOneAtATime()
{
    QFETCH(quint32, seed);
    QTemporaryDir served;
    SshfsShare share(QFile::encodeName(served.path()));
    if (!share.whyNot().isEmpty())
        QSKIP(share.whyNot().constData());
    const Loopback::DelayingProxy proxy(share.port(), std::chrono::milliseconds(10) / 2);
    QVERIFY2(share.mount(proxy.port()), share.whyNot().constData());
    const auto unmounted = qScopeGuard([&share] { share.unmount(); });

    QRandomGenerator random(seed);
    const QByteArrayList bases { "a", "A", "b", "x", "X" };
    const QByteArrayList extensions { ".t", ".T", ".u", "" };
    const QByteArrayList folders { "f/", "g/" };
    QList<std::tuple<QByteArray, QByteArray, QByteArray>> files; // folder, base, extension
    for (const QByteArray& folder : folders) {
        for (const QByteArray& base : bases) {
            for (const QByteArray& ext : extensions) {
                if (random.bounded(3) != 0)
                    files.append({ folder, base, ext });
            }
        }
    }
    std::shuffle(files.begin(), files.end(), std::mt19937(seed));
    QList<bool> checked;
    for (qsizetype i = 0; i < files.size(); ++i)
        checked.append(random.bounded(5) != 0);
    const bool newExtension = random.bounded(2) == 0;
    const QByteArray value = newExtension ? QByteArrayList { ".t", ".T", ".u", "" }.at(random.bounded(4))
                                          : QByteArrayList { "a", "A", "x", "y/z" }.at(random.bounded(4));
    const NameMode mode = newExtension ? NameMode::NewExtension : NameMode::NewBase;

    struct Side
    {
        Session session;
        QByteArray folder; // the searched one, as the session reaches it
        QByteArray onDisk; // as the disk holds it, beneath any share
        QByteArrayList names() const
        {
            QByteArrayList found;
            for (const char* sub : { "f/", "g/" }) {
                for (const QByteArray& name : namesIn(onDisk + sub))
                    found.append(QByteArray(sub) + name);
            }
            return found;
        }
        // Each row's mark, the failures with their paths beneath the folder, the counts and names.
        QStringList outcome() const
        {
            QStringList told;
            for (int row = 0; row < session.list.rowCount(); ++row)
                told.append(
                    QString::fromUtf8(session.list.folder(row).mid(folder.size()) + session.list.name(row))
                    + u": "_s + session.markOf(row));
            for (const FileFailure& failure : session.failures)
                told.append(u"failed "_s + QString::fromUtf8(failure.path.mid(folder.size())) + u" "_s
                    + QString::number(int(failure.reason)));
            for (const int count : session.renamed)
                told.append(u"renamed "_s + QString::number(count));
            for (const QByteArray& name : names())
                told.append(u"on disk "_s + QString::fromUtf8(name));
            return told;
        }
    };
    Side overlapped { Session(share.root()), {}, {} };
    Side oneAtATime { Session(), {}, {} };
    overlapped.folder = overlapped.session.tree.root() + "/";
    overlapped.onDisk = QFile::encodeName(served.path()) + overlapped.folder.mid(share.root().size());
    oneAtATime.folder = oneAtATime.session.tree.root() + "/";
    oneAtATime.onDisk = oneAtATime.folder;
    for (Side* side : { &overlapped, &oneAtATime }) {
        for (const QByteArray& folder : folders)
            QVERIFY(QDir().mkpath(QFile::decodeName(side->onDisk + folder)));
        for (const auto& [folder, base, ext] : files)
            QVERIFY(TestTree::makeFile(side->onDisk + folder + base + ext));
        FileListModel& list = side->session.list;
        list.clear(side->folder);
        list.setSearchedIdentity(Platform::openFolder(side->folder).identity());
        for (const auto& [folder, base, ext] : files)
            list.appendRow(side->folder + folder, base, ext);
        list.publishPendingRows();
        for (int row = 0; row < list.rowCount(); ++row)
            list.setChecked(row, checked[row]);
    }
    const QByteArrayList before = oneAtATime.names();

    for (Side* side : { &overlapped, &oneAtATime })
        side->session.apply(value, PassKind::Execute, mode);
    QCOMPARE(overlapped.outcome(), oneAtATime.outcome());
    QCOMPARE(overlapped.session.core.canUndo(), oneAtATime.session.core.canUndo());
    if (!oneAtATime.session.core.canUndo())
        return; // nothing renamed
    for (Side* side : { &overlapped, &oneAtATime })
        side->session.undo();
    QCOMPARE(overlapped.outcome(), oneAtATime.outcome());
    QCOMPARE(overlapped.names(), before);
}

void TestRenameSession::twoExecutesTakenBackOnAShare_data()
{
    QTest::addColumn<bool>("reopened");
    QTest::newRow("taken back") << false;
    QTest::newRow("taken back by a later session") << true;
}

// sshfs refuses the no-replace flag, so each move links and unlinks, and the link gets a number of
// its own: undoing the second execute gives the files numbers the first never saw, by which its
// undo must still know them.
void TestRenameSession::twoExecutesTakenBackOnAShare()
{
    QFETCH(bool, reopened);
    QTemporaryDir served;
    SshfsShare share(QFile::encodeName(served.path()));
    if (!share.whyNot().isEmpty())
        QSKIP(share.whyNot().constData());
    QVERIFY2(share.mount(), share.whyNot().constData());
    Session session(share.root()); // goes before the share, which unmounts as it goes
    session.tree.createFile("a.txt", "a");
    session.tree.createFile("b.txt", "b");
    session.search(u".txt"_s);
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    session.search(u".md"_s);
    session.apply(".csv", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed, (QList<int> { 2, 2 }));
    if (reopened)
        QCOMPARE(session.reopen().unreadable, 0);
    session.undo();
    session.undo();
    QCOMPARE(session.renamed, (QList<int> { 2, 2, 2, 2 }));
    QVERIFY(session.failures.isEmpty());
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.txt", "a" }, { "b.txt", "b" } }));
    QVERIFY(!session.core.canUndo());
}

namespace {

// Where in a move by link and unlink the program is killed.
enum class KilledAt { Linked, BeforeUnlink, AfterUnlink };
KilledAt killedAt = KilledAt::AfterUnlink;
// The state folder's records as the program, killed there, leaves them.
QString recordsFolder;
QMap<QString, QByteArray> recordsWhenKilled;

void recordsSeen(KilledAt now)
{
    if (now != killedAt)
        return;
    const QDir records(recordsFolder);
    for (const QString& record : records.entryList({ u"*.record"_s }, QDir::Files)) {
        QFile file(records.filePath(record));
        if (file.open(QIODevice::ReadOnly))
            recordsWhenKilled.insert(record, file.readAll());
    }
}

int linkSeen(int fromFolder, const char* from, int toFolder, const char* to, int flags)
{
    const int result = Platform::Native::systemCalls().linkat(fromFolder, from, toFolder, to, flags);
    recordsSeen(KilledAt::Linked);
    return result;
}

// Killed before the unlink, the program never made it: the file keeps its old name too.
int unlinkSeen(int folder, const char* name, int flags)
{
    recordsSeen(KilledAt::BeforeUnlink);
    if (killedAt != KilledAt::AfterUnlink)
        return 0;
    const int result = Platform::Native::systemCalls().unlinkat(folder, name, flags);
    recordsSeen(KilledAt::AfterUnlink);
    return result;
}

} // namespace

Q_DECLARE_METATYPE(KilledAt)

void TestRenameSession::killedWhileLinking_data()
{
    QTest::addColumn<KilledAt>("killed");
    QTest::newRow("the link made") << KilledAt::Linked;
    QTest::newRow("the link on record") << KilledAt::BeforeUnlink;
    QTest::newRow("the old name gone") << KilledAt::AfterUnlink;
}

// On a share that numbers its files by name (sshfs), a file moved by a link and an unlink has a new
// number, which is on record before its old name goes. Killed at any point of the move, the program
// leaves the file under one name or both, and a later session takes it back: a second name only
// where it holds the file's bytes.
void TestRenameSession::killedWhileLinking()
{
    QFETCH(KilledAt, killed);
    QTemporaryDir served;
    SshfsShare share(QFile::encodeName(served.path()));
    if (!share.whyNot().isEmpty())
        QSKIP(share.whyNot().constData());
    QVERIFY2(share.mount(), share.whyNot().constData());
    Session session(share.root()); // goes before the share, which unmounts as it goes
    session.tree.createFile("a.txt", "a");
    session.search(u".txt"_s);
    recordsFolder = session.state.path();
    recordsWhenKilled.clear();
    killedAt = killed;
    {
        const SystemStandIn::Restored restored;
        Platform::Native::calls.linkat = linkSeen;
        Platform::Native::calls.unlinkat = unlinkSeen;
        session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    }
    QCOMPARE(session.renamed, QList<int> { 1 });
    QCOMPARE(recordsWhenKilled.size(), 1);
    std::destroy_at(&session.core);
    std::construct_at(&session.core, session.stateFolder);
    QFile record(session.state.filePath(recordsWhenKilled.firstKey()));
    QVERIFY(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(record.write(recordsWhenKilled.first()), recordsWhenKilled.first().size());
    record.close();
    const RecordsFound found = session.reopen();
    QCOMPARE(found.cutOff.size(), size_t(1));
    QCOMPARE(found.cutOff.front().renamed, 1);
    session.undo();
    QCOMPARE(session.renamed.last(), 1);
    QVERIFY(session.failures.isEmpty());
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.txt", "a" } }));
}
#endif

QTEST_GUILESS_MAIN(TestRenameSession)
#include "test_rename_session.moc"
