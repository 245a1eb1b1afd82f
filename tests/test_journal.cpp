#include "rename_fixture.h"
#include "system_stand_in.h"

#include <QTemporaryDir>

class TestJournal final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { Volumes::unmountAll(); }
    void undoTakesBackExecutes_data();
    void undoTakesBackExecutes();
    void recordsLeftBehind_data();
    void recordsLeftBehind();
    void aRecordThatLeadsOutside_data();
    void aRecordThatLeadsOutside();
    void unwritableStateFolder();
    void planIsDurableBeforeTheFirstMove();
};

void TestJournal::undoTakesBackExecutes_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("reopened"); // the undo is a later session's, from the record
    const QString local = u"local"_s;
    QTest::newRow("nothing") << local << u"nothing"_s << false;
    QTest::newRow("a new search") << local << u"search"_s << false;
    QTest::newRow("a file replaced under its new name") << local << u"replace"_s << false;
    QTest::newRow("an old name taken") << local << u"take"_s << false;
    QTest::newRow("a second execute") << local << u"execute"_s << false;
    QTest::newRow("a later session: nothing") << local << u"nothing"_s << true;
    QTest::newRow("a later session: a file replaced") << local << u"replace"_s << true;
    QTest::newRow("a later session: an old name taken") << local << u"take"_s << true;
    QTest::newRow("a later session: a second execute") << local << u"execute"_s << true;
    for (const QString& kind : MountedVolume::kinds()) {
        if (kind == u"exfat" || kind == u"fat") {
            QTest::addRow("%s: letter case only", qPrintable(kind)) << kind << u"nothing"_s << false;
            QTest::addRow("%s: a later session, letter case only", qPrintable(kind))
                << kind << u"nothing"_s << true;
        }
    }
#ifdef _WIN32
    // ReFS: files told apart by their 128-bit ids alone, whose lower halves are all alike.
    QTest::newRow("refs: nothing") << u"refs"_s << u"nothing"_s << false;
    QTest::newRow("refs: a file replaced under its new name") << u"refs"_s << u"replace"_s << false;
    QTest::newRow("refs: a second execute") << u"refs"_s << u"execute"_s << false;
    // The undo of a second execute renames the files back; ReFS keeps their ids.
    QTest::newRow("refs: a second execute to longer names, taken back") << u"refs"_s << u"longer"_s << false;
    // A FAT card searched at its root, as Windows' FAT driver answers (see FatDriver): the root has
    // no number and 1 January 1980 in local time for its times; every time comes in UTC converted
    // with the time-zone bias in force when asked, and a file's number is where its entry lies.
    QTest::newRow("fat: a file replaced under its new name") << u"fat"_s << u"replace"_s << false;
    // The clocks go back an hour between the search and the execute, or forward an hour between the
    // execute and the undo: every time the volume gives moves by the hour. The stand-in converts its
    // times with a bias the test changes, since Wine's time zone cannot be changed reliably under a
    // running test.
    QTest::newRow("fat: the time zone changed, then an execute") << u"fat"_s << u"zone first"_s << false;
    QTest::newRow("fat: the time zone changed") << u"fat"_s << u"zone"_s << false;
    // The second execute's longer names take more entries, and so do the names its undo gives back:
    // the files' numbers are no longer those the first execute recorded.
    QTest::newRow("fat: a second execute to longer names, taken back") << u"fat"_s << u"longer"_s << false;
    // Between two executes, the first's file is renamed and another of the same size, both written
    // with a creation date of 0 (which fastfat reads as 1 January 1980), is given its name: only
    // the entry tells them apart, and the first's undo must not take the other.
    QTest::newRow("fat: another file of the same size and time given the name")
        << u"fat"_s << u"swap"_s << false;
    // FAT keeps no number of its own for a file: the size is part of telling it; a file edited in
    // place keeps its entry and its time.
    QTest::newRow("fat: a file edited in place") << u"fat"_s << u"edit"_s << false;
    // The first's file is moved to another folder and another of its size put under its name at
    // once: the volume gives it the creation time tunnelled with the name, so only its entry, a new
    // one, tells it from the first's file.
    QTest::newRow("fat: another file of the same size put at once under its new name")
        << u"fat"_s << u"tunnelled"_s << false;
    // The same once the tunnel time has passed and the folder's clusters are full: the other file
    // takes the freed entry, so only the creation time tells it apart.
    QTest::newRow("fat: another file of the same size later in its freed entry")
        << u"fat"_s << u"reused"_s << false;
    // The same with both files written without a creation date, the other a byte longer: only the
    // size tells it apart, and the undo cannot tell it from the first's file edited.
    QTest::newRow("fat: another file of another size, both undated, later in its freed entry")
        << u"fat"_s << u"reused undated"_s << false;
    // exFAT giving no file numbers ([MS-FSCC] 2.4.22 lets a volume answer 0): its files are told by
    // their creation time and size.
    QTest::newRow("exfat without numbers: nothing") << u"exfat"_s << u"nothing"_s << false;
    QTest::newRow("exfat without numbers: a file replaced under its new name")
        << u"exfat"_s << u"replace"_s << false;
#endif
}

// An execute with one failure, something done in between, then undo.
void TestJournal::undoTakesBackExecutes()
{
    QFETCH(QString, volume);
    QFETCH(QString, meanwhile);
    QFETCH(bool, reopened);
    VOLUME_BASE(base);
    Session session(base);
#ifdef _WIN32
    if (volume == u"fat" || volume == u"exfat")
        FatDriver::answerAsRoot(TestSystem::nativePath(session.tree.root()));
#endif
    const auto identityOf = [&session](const QByteArray& name) {
        return Platform::entryIdentity(Platform::openFolder(session.tree.root()), name);
    };
    // On a camera card the photos' letters change; elsewhere their suffix, which on FAT keeps the
    // file's entry.
    const bool reused = meanwhile.startsWith(u"reused");
    const bool letterCase = (volume == u"fat" || volume == u"exfat") && !reused;
    const QByteArray from = letterCase ? ".JPG" : ".txt";
    const QByteArray to = letterCase ? ".jpg" : ".md";
    for (const QByteArray stem : { "a", "b", "c" })
        session.tree.createFile(stem + from, stem);
    session.tree.createFile("d" + from, "d");
#ifdef _WIN32
    // Wine may give the time an inode last changed for its creation, which a write moves; a file
    // written without a creation date keeps the time fastfat gives it.
    if (meanwhile == u"swap" || meanwhile == u"edit" || reused)
        FatDriver::writtenWithoutCreationDate(TestSystem::nativePath(session.tree.path("a" + from)));
    if (meanwhile == u"swap")
        FatDriver::writtenWithoutCreationDate(TestSystem::nativePath(session.tree.path("d" + from)));
#endif
    session.search(QString::fromUtf8(from));
    session.list.setChecked(session.rowOf("d" + from), false);
    QVERIFY(QFile::remove(QFile::decodeName(session.tree.path("c" + from)))); // its move fails
    const Tree before = session.tree.snapshot();
#ifdef _WIN32
    if (meanwhile == u"zone first") {
        const Platform::FolderIdentity searched = Platform::openFolder(session.tree.root()).identity();
        FatDriver::changeBias(60);
        // The root is the same folder only as the volume keeps its times.
        QVERIFY(Platform::openFolder(session.tree.root()).identity() != searched);
    }
#endif
    session.apply(to, PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed.last(), 2);
    QCOMPARE(session.failedPaths().size(), 1);
    session.failures.clear();

    Tree expected = before;
    int back = 2;
    QStringList failed;
    RowMark reason = RowMark::FailedSourceMissing; // why each of `failed` failed
    if (meanwhile == u"search") {
        session.search(QString::fromUtf8(to));
    } else if (meanwhile == u"replace") {
        QVERIFY(QFile::remove(QFile::decodeName(session.tree.path("a" + to))));
        session.tree.createFile("a" + to, "new");
        expected.remove("a" + from);
        expected.insert("a" + to, "new");
        back = 1;
        failed.append(QString::fromUtf8(session.tree.path("a" + to)));
    } else if (meanwhile == u"edit") {
        QFile edited(QFile::decodeName(session.tree.path("a" + to)));
        QVERIFY(edited.open(QIODevice::Append));
        QVERIFY(edited.write(" edited") == 7);
        edited.close();
        expected.remove("a" + from);
        expected.insert("a" + to, "a edited");
        reason = RowMark::FailedSourceModified;
        back = 1;
        failed.append(QString::fromUtf8(session.tree.path("a" + to)));
    } else if (meanwhile == u"swap") {
        QVERIFY(QFile::rename(
            QFile::decodeName(session.tree.path("a" + to)), QFile::decodeName(session.tree.path("x" + to))));
        QVERIFY(QFile::rename(QFile::decodeName(session.tree.path("d" + from)),
            QFile::decodeName(session.tree.path("a" + to))));
        session.search(QString::fromUtf8(to));
        session.list.setChecked(session.rowOf("x" + to), false);
        session.apply(".markdown", PassKind::Execute, NameMode::NewExtension);
        QCOMPARE(session.renamed.last(), 2);
        session.undo();
        QCOMPARE(session.renamed.last(), 2);
        expected = { { "x" + to, "a" }, { "a" + to, "d" }, { "b" + from, "b" } };
        back = 1;
        failed.append(QString::fromUtf8(session.tree.path("a" + to)));
    } else if (meanwhile == u"take") {
        session.tree.createFile("b" + from, "taker");
        expected.insert("b" + from, "taker");
        expected.insert("b" + to, "b");
        reason = RowMark::FailedTargetExists;
        back = 1;
        failed.append(QString::fromUtf8(session.tree.path("b" + to)));
    } else if (meanwhile == u"execute" || meanwhile == u"longer") {
        const std::optional<Platform::FileIdentity> renamed = identityOf("a" + to);
        QVERIFY(renamed);
        session.search(QString::fromUtf8(to));
        // Where names ignore case, the search finds the file left out of the first execute too.
        if (const int left = session.rowOf("d" + from); left >= 0)
            session.list.setChecked(left, false);
        session.apply(
            meanwhile == u"longer" ? ".markdown" : ".csv", PassKind::Execute, NameMode::NewExtension);
        QCOMPARE(session.renamed.last(), 2);
        session.failures.clear();
        session.undo();
        QCOMPARE(session.renamed.last(), 2);
        QCOMPARE(session.tree.snapshot().keys(), (QList<QByteArray> { "a" + to, "b" + to, "d" + from }));
        // Only on FAT did the file get another number on the way.
        const std::optional<Platform::FileIdentity> back = identityOf("a" + to);
        QVERIFY(back);
        // The whole number: ReFS's lower halves are all alike.
        QCOMPARE(back->index != renamed->index || back->indexHigh != renamed->indexHigh,
            meanwhile == u"longer" && volume == u"fat");
#ifdef _WIN32
    } else if (meanwhile == u"tunnelled" || reused) {
        const std::optional<Platform::FileIdentity> renamed = identityOf("a" + to);
        QVERIFY(renamed);
        const QTemporaryDir elsewhere;
        QVERIFY(QFile::rename(QFile::decodeName(session.tree.path("a" + to)),
            elsewhere.path() + u'/' + QFile::decodeName("a" + to)));
        const std::wstring folder = TestSystem::nativePath(session.tree.root());
        if (reused) {
            FatDriver::tunnelTimePasses(folder);
            for (ULONGLONG left = FatDriver::entriesNeverUsed(folder); left > 0; --left) {
                const QByteArray filler = "FILL" + QByteArray::number(left) + ".BIN"; // one entry each
                session.tree.createFile(filler);
                expected.insert(filler, QByteArray());
            }
            QCOMPARE(FatDriver::entriesNeverUsed(folder), ULONGLONG(0));
        }
        const bool undated = meanwhile == u"reused undated";
        const QByteArray content = undated ? "zz" : "z";
        session.tree.createFile("a" + to, content);
        if (undated) {
            FatDriver::writtenWithoutCreationDate(TestSystem::nativePath(session.tree.path("a" + to)));
            reason = RowMark::FailedSourceModified;
        }
        const std::optional<Platform::FileIdentity> other = identityOf("a" + to);
        QVERIFY(other);
        QCOMPARE(other->size == renamed->size, !undated);
        QCOMPARE(other->index == renamed->index, reused);
        QCOMPARE(other->born == renamed->born, meanwhile != u"reused");
        expected.remove("a" + from);
        expected.insert("a" + to, content);
        back = 1;
        failed.append(QString::fromUtf8(session.tree.path("a" + to)));
    } else if (meanwhile == u"zone") {
        const std::optional<Platform::FileIdentity> renamed = identityOf("a" + to);
        FatDriver::changeBias(-60);
        // The file is the same only as the volume keeps its times.
        QVERIFY(renamed && identityOf("a" + to) != renamed);
#endif
    }
    if (reopened) {
        const RecordsFound found = session.reopen();
        QVERIFY(found.cutOff.empty());
        QCOMPARE(found.unreadable, 0);
    }
    session.undo();
    QCOMPARE(session.renamed.last(), back);
    QCOMPARE(session.failedPaths(), failed);
    for (const FileFailure& failure : session.failures)
        QCOMPARE(failure.reason, reason);
    QCOMPARE(session.tree.snapshot(), expected);
    QVERIFY(!session.core.canUndo());
    // A record taken back whole is gone; one with a file that could not go back stays for a later try.
    QCOMPARE(session.records().size(), failed.isEmpty() ? 0 : 1);
}

void TestJournal::recordsLeftBehind_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("cutOff"); // the files the later session finds renamed on disk
    QTest::addColumn<int>("unreadable");
    QTest::addColumn<int>("leftRenamed"); // the files its undo cannot identify
    // The program ended before it could mark the record complete: killed, or the power cut.
    QTest::newRow("cut off") << u"cut off"_s << 2 << 0 << 0;
    // ... between the two steps of a change of letter case.
    QTest::newRow("cut off under a temporary name") << u"temporary"_s << 2 << 0 << 0;
    // A power cut tore the last entry, the identity of the last file moved: nothing identifies it.
    QTest::newRow("torn last entry") << u"torn"_s << 1 << 0 << 1;
    QTest::newRow("corrupt plan") << u"corrupt"_s << 0 << 1 << 2;
    QTest::newRow("not a record") << u"garbage"_s << 0 << 1 << 2;
    // Another window is still open with it: it is that window's, not a crashed one's.
    QTest::newRow("held by a running window, then closed") << u"held"_s << 0 << 0 << 0;
}

// An execute stopped after two of its four moves, its record then damaged as the row says, and a
// later session started over the same state folder: what it tells, and what its undo brings back.
void TestJournal::recordsLeftBehind()
{
    QFETCH(QString, damage);
    QFETCH(int, cutOff);
    QFETCH(int, unreadable);
    QFETCH(int, leftRenamed);
    Session session;
    for (const QByteArray stem : { "a", "b", "c", "d" })
        session.tree.createFile(stem + ".txt", stem);
    const Tree before = session.tree.snapshot();
    session.search();
    StoppingProgress stopping(2);
    session.progress = &stopping;
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    session.progress = nullptr;
    QCOMPARE(session.renamed.last(), 2);
    const QStringList records = session.records();
    QCOMPARE(records.size(), 1);
    QFile record(session.state.filePath(records.first()));
    QByteArray moved; // a file moved, and its row in the record, which numbers the checked rows
    for (const QByteArray& name : session.tree.snapshot().keys())
        if (name.endsWith(".md") && moved.isEmpty())
            moved = name;
    const int movedRow = session.rowOf(moved.chopped(3) + ".txt");

    if (damage == u"held") {
        // Both windows open: the later one takes nothing of the earlier one's.
        RenameSession later(session.stateFolder);
        Runner runner;
        const RecordsFound found = later.takeRecordsLeft(runner);
        QVERIFY(found.cutOff.empty() && found.unreadable == 0 && !later.canUndo());
        QVERIFY(session.core.canUndo());
    } else {
        // The record as the program, ended without marking it complete, leaves it: without its
        // last entry, which marks it complete. The session that held it lets it go first: on
        // Windows nothing else can open a record while it is held.
        std::destroy_at(&session.core);
        std::construct_at(&session.core);
        QVERIFY(record.open(QIODevice::ReadWrite));
        QVERIFY(record.resize(record.size() - 9));
        if (damage == u"torn") {
            QVERIFY(record.resize(record.size() - 10));
        } else if (damage == u"corrupt") {
            record.seek(40);
            QVERIFY(record.putChar('\x7f'));
        } else if (damage == u"garbage") {
            QVERIFY(record.resize(0) && record.write(QByteArray(4096, '\x55')) == 4096);
        } else if (damage == u"temporary") {
            // As a change of letter case leaves a file between its two steps, the temporary name on
            // record before the first.
            const QByteArray temporary = moved + ".0123456789abcdef.batch-renamer-tmp";
            QVERIFY(QFile::rename(QFile::decodeName(session.tree.path(moved)),
                QFile::decodeName(session.tree.path(temporary))));
            // Written as the pass writes it.
            record.close();
            Platform::RecordFile::Taken taken = Platform::RecordFile::Taken::Failed;
            ExecuteRecord written(
                Platform::RecordFile::take(session.stateFolder, QFile::encodeName(records.first()), taken));
            QCOMPARE(taken, Platform::RecordFile::Taken::Held);
            written.temporaryName(quint32(movedRow), temporary);
        }
        record.close();
    }
    // A plan whose program ended before it was durable, with no file moved under it, is removed.
    QFile unfinished(session.state.filePath(u"0000000000000001-1.record.new"_s));
    QVERIFY(unfinished.open(QIODevice::WriteOnly) && unfinished.write("batch-renamer record\n") > 0);
    unfinished.close();
    const RecordsFound found = session.reopen();
    QVERIFY(!unfinished.exists());
    QCOMPARE(found.unreadable, unreadable);
    if (cutOff > 0) {
        QCOMPARE(found.cutOff.size(), size_t(1));
        QCOMPARE(found.cutOff.front().searchedFolder, session.tree.root() + Platform::Separator);
        QCOMPARE(found.cutOff.front().renamed, cutOff);
    } else {
        QVERIFY(found.cutOff.empty());
    }
    QCOMPARE(session.records(u".unreadable"_s).size(), unreadable);
    const bool undone = session.core.canUndo();
    if (undone)
        session.undo();
    QCOMPARE(undone ? session.renamed.last() : 0, 2 - leftRenamed);
    QVERIFY(session.failures.isEmpty());
    int stillRenamed = 0;
    for (const QByteArray& name : session.tree.snapshot().keys())
        stillRenamed += name.endsWith(".md") ? 1 : 0;
    QCOMPARE(stillRenamed, leftRenamed);
    if (leftRenamed == 0)
        QCOMPARE(session.tree.snapshot(), before);
    // Taken back as far as it identifies files, the record is gone.
    QVERIFY(session.records().isEmpty());
}

void TestJournal::aRecordThatLeadsOutside_data()
{
    QTest::addColumn<QByteArray>("folder"); // beneath the searched one
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("ext");
    QTest::newRow("a name with a separator")
        << QByteArray() << QByteArray("../outside") << QByteArray(".txt");
    QTest::newRow("a name that is ..") << QByteArray() << QByteArray("..") << QByteArray();
    QTest::newRow("a folder above") << QByteArray("../") << QByteArray("outside") << QByteArray(".txt");
    QTest::newRow("a folder named .") << QByteArray("./../") << QByteArray("outside") << QByteArray(".txt");
}

// A record edited by hand, its checksums made anew, whose plan names a file outside the searched
// folder, with the identity of the file there: it is set aside, and nothing is moved.
void TestJournal::aRecordThatLeadsOutside()
{
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, ext);
    Session session;
    session.tree.createDir("searched");
    session.tree.createFile("outside.txt", "keep");
    session.tree.createFile("outside.md", "keep too");
    const Tree before = session.tree.snapshot();
    const QByteArray searched = session.tree.path("searched") + Platform::Separator;
    folder.replace('/', Platform::Separator);
    FileListModel list;
    list.clear(searched);
    list.setSearchedIdentity(Platform::openFolder(searched).identity());
    list.appendRow(searched + folder, base, ext);
    list.publishPendingRows();
    int error = 0;
    ExecuteRecord written
        = ExecuteRecord::start(session.stateFolder, list, { 0 }, ".md", NameMode::NewExtension, error);
    QCOMPARE(error, 0);
    const Platform::FolderHandle root = Platform::openFolder(session.tree.root());
    written.folderOpened(list.folderId(0), root.identity());
    written.aboutToMove(0, *Platform::entryIdentity(root, "outside.md"));
    written.release(false);

    const RecordsFound found = session.reopen();
    QCOMPARE(found.unreadable, 1);
    QVERIFY(found.cutOff.empty());
    QVERIFY(!session.core.canUndo());
    QCOMPARE(session.tree.snapshot(), before);
}

// A state folder where no record can be made: the execute renames all the same, says why it is not
// on record, and its undo works for as long as the session lives.
void TestJournal::unwritableStateFolder()
{
    Session session;
    session.tree.createFile("a.txt", "a");
    session.tree.createFile("b.txt", "b");
    session.tree.createFile("blocker", "a file where the state folder's parent should be");
    const Tree before = session.tree.snapshot();
    session.stateFolder = session.tree.path("blocker") + Platform::Separator + "batch-renamer";
    session.reopen();
    session.search();
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed.last(), 2);
    QVERIFY(session.recordError != 0);
    session.undo();
    QCOMPARE(session.renamed.last(), 2);
    QCOMPARE(session.tree.snapshot(), before);
}

// A power cut can never leave a move without its record: the record's plan, and on Linux the entry
// that names it, reach the disk before the first file moves, and no move waits for a sync of its own.
void TestJournal::planIsDurableBeforeTheFirstMove()
{
    Session session;
    for (const QByteArray stem : { "a", "b", "c" })
        session.tree.createFile(stem + ".txt", stem);
    session.search();
    const SystemStandIn::Restored restored;
    SystemStandIn::recorded().calls.clear();
    SystemStandIn::recordSyncsAndMoves();
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed.last(), 3);
    // What each call did, a run of moves told once: a move may take more than one call.
    QStringList kinds;
    for (const QByteArray& call : SystemStandIn::recorded().calls) {
        QString kind = QString::fromUtf8(call);
#ifdef _WIN32
        if (call == "move")
            kind = u"move a file"_s;
        else if (call == "sync")
            kind = u"sync the record"_s;
#else
        if (call.startsWith("move") && call.endsWith(".md"))
            kind = u"move a file"_s;
        else if (call == "sync " + session.stateFolder)
            kind = u"sync the state folder"_s;
        else if (call.startsWith("sync " + session.stateFolder) && call.endsWith(".record.new"))
            kind = u"sync the record"_s;
        else if (call.startsWith("move " + session.stateFolder) && call.endsWith(".record"))
            kind = u"name the record"_s;
#endif
        if (kinds.isEmpty() || kinds.last() != kind)
            kinds.append(kind);
    }
#ifdef _WIN32
    // Made under its own name, held by a handle no other can open meanwhile.
    const QStringList expected { u"sync the record"_s, u"move a file"_s };
#else
    const QStringList expected { u"sync the record"_s, u"name the record"_s, u"sync the state folder"_s,
        u"move a file"_s };
#endif
    QCOMPARE(kinds, expected);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
