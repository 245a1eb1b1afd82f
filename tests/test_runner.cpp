#include "rename_fixture.h"
#include "system_stand_in.h"

#include <QElapsedTimer>
#include <QTimer>

class TestRunner final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { Volumes::unmountAll(); }
    void eventsGoThroughDuringLongPass_data();
    void eventsGoThroughDuringLongPass();
};

void TestRunner::eventsGoThroughDuringLongPass_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<int>("photos");
    QTest::addColumn<bool>("slowMoves");
    QTest::addColumn<int>("longestGapAllowedMs");
    QTest::newRow("exfat") << u"exfat"_s << 5000 << false << 250;
    QTest::newRow("moves taking 300 ms") << u"local"_s << 3 << true << 100;
}

// A camera card's photos changed from ".JPG" to ".jpg": on exFAT each is a change of letter case
// through a temporary name, and the pass takes seconds. Meanwhile the window's events must go
// through often enough that it repaints and a screen reader gets its answers, however long a single
// move takes.
void TestRunner::eventsGoThroughDuringLongPass()
{
    QFETCH(int, photos);
    QFETCH(bool, slowMoves);
    QFETCH(int, longestGapAllowedMs);
    VOLUME_BASE(base);
    Session session(base);
    for (int i = 0; i < photos; ++i)
        session.tree.createFile("IMG_" + QByteArray::number(i) + ".JPG");
    session.search(u".JPG"_s);

    QElapsedTimer clock;
    qint64 lastEvent = 0;
    qint64 longestGap = 0;
    const auto eventArrives = [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastEvent);
        lastEvent = clock.elapsed();
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, this, eventArrives);
    ticker.start();
    const SystemStandIn::Restored restored;
    if (slowMoves)
        SystemStandIn::slowRenames();
    clock.start();
    session.apply(".jpg", PassKind::Execute, NameMode::NewExtension);
    eventArrives(); // the gap between the last event and the end of the pass counts too
    ticker.stop();
    if (slowMoves) // the moves did take their time
        QCOMPARE_GE(clock.elapsed(), qint64(photos * SystemStandIn::slowRenameMs));

    QCOMPARE(session.renamed, QList<int> { photos });
    const Tree after = session.tree.snapshot();
    QCOMPARE(after.size(), qsizetype(photos));
    for (const QByteArray& name : after.keys())
        QVERIFY2(name.endsWith(".jpg"), name.constData());
    QCOMPARE_LE(longestGap, longestGapAllowedMs);
}

QTEST_GUILESS_MAIN(TestRunner)
#include "test_runner.moc"
