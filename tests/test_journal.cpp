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
};

void TestJournal::undoTakesBackExecutes_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("meanwhile");
    const QString local = u"local"_s;
    QTest::newRow("nothing") << local << u"nothing"_s;
    QTest::newRow("a new search") << local << u"search"_s;
    QTest::newRow("a file replaced under its new name") << local << u"replace"_s;
    QTest::newRow("an old name taken") << local << u"take"_s;
    QTest::newRow("a second execute") << local << u"execute"_s;
    for (const QString& kind : MountedVolume::kinds()) {
        if (kind == u"exfat" || kind == u"fat")
            QTest::addRow("%s: letter case only", qPrintable(kind)) << kind << u"nothing"_s;
    }
#ifdef _WIN32
    // ReFS: files told apart by their 128-bit ids alone, whose lower halves are all alike.
    QTest::newRow("refs: nothing") << u"refs"_s << u"nothing"_s;
    QTest::newRow("refs: a file replaced under its new name") << u"refs"_s << u"replace"_s;
    QTest::newRow("refs: a second execute") << u"refs"_s << u"execute"_s;
    // The undo of a second execute renames the files back; ReFS keeps their ids.
    QTest::newRow("refs: a second execute to longer names, taken back") << u"refs"_s << u"longer"_s;
    // A FAT card searched at its root, as Windows' FAT driver answers (see FatDriver): the root has
    // no number and 1 January 1980 in local time for its times; every time comes in UTC converted
    // with the time-zone bias in force when asked, and a file's number is where its entry lies.
    QTest::newRow("fat: a file replaced under its new name") << u"fat"_s << u"replace"_s;
    // The clocks go back an hour between the search and the execute, or forward an hour between the
    // execute and the undo: every time the volume gives moves by the hour. The stand-in converts its
    // times with a bias the test changes, since Wine's time zone cannot be changed reliably under a
    // running test.
    QTest::newRow("fat: the time zone changed, then an execute") << u"fat"_s << u"zone first"_s;
    QTest::newRow("fat: the time zone changed") << u"fat"_s << u"zone"_s;
    // The second execute's longer names take more entries, and so do the names its undo gives back:
    // the files' numbers are no longer those the first execute recorded.
    QTest::newRow("fat: a second execute to longer names, taken back") << u"fat"_s << u"longer"_s;
    // Between two executes, the first's file is renamed and another of the same size, both written
    // with a creation date of 0 (which fastfat reads as 1 January 1980), is given its name: only
    // the entry tells them apart, and the first's undo must not take the other.
    QTest::newRow("fat: another file of the same size and time given the name") << u"fat"_s << u"swap"_s;
    // FAT keeps no number of its own for a file: the size is part of telling it; a file edited in
    // place keeps its entry and its time.
    QTest::newRow("fat: a file edited in place") << u"fat"_s << u"edit"_s;
    // The first's file is moved to another folder and another of its size put under its name at
    // once: the volume gives it the creation time tunnelled with the name, so only its entry, a new
    // one, tells it from the first's file.
    QTest::newRow("fat: another file of the same size put at once under its new name")
        << u"fat"_s << u"tunnelled"_s;
    // The same once the tunnel time has passed and the folder's clusters are full: the other file
    // takes the freed entry, so only the creation time tells it apart.
    QTest::newRow("fat: another file of the same size later in its freed entry") << u"fat"_s << u"reused"_s;
    // exFAT giving no file numbers ([MS-FSCC] 2.4.22 lets a volume answer 0): its files are told by
    // their creation time and size.
    QTest::newRow("exfat without numbers: nothing") << u"exfat"_s << u"nothing"_s;
    QTest::newRow("exfat without numbers: a file replaced under its new name") << u"exfat"_s << u"replace"_s;
#endif
}

// An execute with one failure, something done in between, then undo.
void TestJournal::undoTakesBackExecutes()
{
    QFETCH(QString, volume);
    QFETCH(QString, meanwhile);
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
    const bool letterCase = (volume == u"fat" || volume == u"exfat") && meanwhile != u"reused";
    const QByteArray from = letterCase ? ".JPG" : ".txt";
    const QByteArray to = letterCase ? ".jpg" : ".md";
    for (const QByteArray stem : { "a", "b", "c" })
        session.tree.createFile(stem + from, stem);
    session.tree.createFile("d" + from, "d");
#ifdef _WIN32
    // Wine may give the time an inode last changed for its creation, which a write moves; a file
    // written without a creation date keeps the time fastfat gives it.
    if (meanwhile == u"swap" || meanwhile == u"edit" || meanwhile == u"reused")
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
    } else if (meanwhile == u"tunnelled" || meanwhile == u"reused") {
        const std::optional<Platform::FileIdentity> renamed = identityOf("a" + to);
        QVERIFY(renamed);
        const QTemporaryDir elsewhere;
        QVERIFY(QFile::rename(QFile::decodeName(session.tree.path("a" + to)),
            elsewhere.path() + u'/' + QFile::decodeName("a" + to)));
        const std::wstring folder = TestSystem::nativePath(session.tree.root());
        if (meanwhile == u"reused") {
            FatDriver::tunnelTimePasses(folder);
            for (ULONGLONG left = FatDriver::entriesNeverUsed(folder); left > 0; --left) {
                const QByteArray filler = "FILL" + QByteArray::number(left) + ".BIN"; // one entry each
                session.tree.createFile(filler);
                expected.insert(filler, QByteArray());
            }
            QCOMPARE(FatDriver::entriesNeverUsed(folder), ULONGLONG(0));
        }
        session.tree.createFile("a" + to, "z");
        const std::optional<Platform::FileIdentity> other = identityOf("a" + to);
        QVERIFY(other);
        QCOMPARE(other->size, renamed->size);
        QCOMPARE(other->index == renamed->index, meanwhile == u"reused");
        QCOMPARE(other->born == renamed->born, meanwhile == u"tunnelled");
        expected.remove("a" + from);
        expected.insert("a" + to, "z");
        back = 1;
        failed.append(QString::fromUtf8(session.tree.path("a" + to)));
    } else if (meanwhile == u"zone") {
        const std::optional<Platform::FileIdentity> renamed = identityOf("a" + to);
        FatDriver::changeBias(-60);
        // The file is the same only as the volume keeps its times.
        QVERIFY(renamed && identityOf("a" + to) != renamed);
#endif
    }
    session.undo();
    QCOMPARE(session.renamed.last(), back);
    QCOMPARE(session.failedPaths(), failed);
    for (const FileFailure& failure : session.failures)
        QCOMPARE(failure.reason, reason);
    QCOMPARE(session.tree.snapshot(), expected);
    QVERIFY(!session.core.canUndo());
}

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
