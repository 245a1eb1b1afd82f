#include "rename_fixture.h"
#include "system_stand_in.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

class TestRunner final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { Volumes::unmountAll(); }
    void eventsGoThroughDuringLongPass_data();
    void eventsGoThroughDuringLongPass();
    void operationsRunInOrder_data();
    void operationsRunInOrder();
    void answersComeFromAnotherThread();
    void holdEndsWithItsAnswer();
};

void TestRunner::operationsRunInOrder_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("holding"); // the operations whose outcome holds the thread
    QTest::addColumn<int>("ending"); // the operation whose outcome ends the run, or -1
    QTest::addColumn<int>("stopAfter"); // how many operations run before a stop is asked, or -1
    QTest::addColumn<int>("ran"); // or, overlapped, at least
    QTest::addColumn<int>("atOnce"); // how many slow operations may overlap
    QTest::addColumn<int>("groupSize"); // operations in each group, one after another, or 0 for none
    QTest::newRow("all") << 5000 << QList<int>() << -1 << -1 << 5000 << 1 << 0;
    QTest::newRow("held outcomes") << 60 << QList<int> { 0, 7, 8, 59 } << -1 << -1 << 60 << 1 << 0;
    QTest::newRow("an outcome that ends the run") << 100 << QList<int> { 40 } << 40 << -1 << 41 << 1 << 0;
    QTest::newRow("a stop") << 100 << QList<int>() << -1 << 7 << 7 << 1 << 0;
    QTest::newRow("a stop while an outcome holds") << 100 << QList<int> { 6 } << -1 << 7 << 7 << 1 << 0;
    // Slow operations, up to four at once, where each depends on the one five before it.
    QTest::newRow("overlapped") << 60 << QList<int>() << -1 << -1 << 60 << 4 << 0;
    QTest::newRow("overlapped, held outcomes")
        << 60 << QList<int> { 0, 7, 8, 30, 59 } << -1 << -1 << 60 << 4 << 0;
    QTest::newRow("overlapped, an outcome that ends the run")
        << 60 << QList<int>() << 20 << -1 << 21 << 4 << 0;
    QTest::newRow("overlapped, a stop") << 60 << QList<int>() << -1 << 12 << 12 << 4 << 0;
    // In one folder, none starts further than four beyond the first whose outcome is yet to come.
    // Folders of ten, where each move of a folder waits for the one before it: later folders' moves
    // start ahead of earlier folders'.
    QTest::newRow("one group, held outcomes")
        << 60 << QList<int> { 0, 7, 8, 30, 59 } << -1 << -1 << 60 << 4 << 60;
    QTest::newRow("groups") << 60 << QList<int>() << -1 << -1 << 60 << 4 << 10;
    QTest::newRow("groups, held outcomes") << 60 << QList<int> { 0, 7, 30, 59 } << -1 << -1 << 60 << 4 << 10;
    QTest::newRow("groups, an outcome that ends the run") << 60 << QList<int>() << 25 << -1 << 1 << 4 << 10;
    QTest::newRow("groups, a stop") << 60 << QList<int>() << -1 << 12 << 1 << 4 << 10;
}

// Each outcome comes to this thread in order, a held one before the next operation starts, and
// nothing starts after an ending outcome or at a stop. Overlapped, no operation runs beside one it
// depends on, and only those under way at a hold, an end or a stop end after it. In groups, the
// operations that never started are passed over.
void TestRunner::operationsRunInOrder()
{
    QFETCH(int, count);
    QFETCH(QList<int>, holding);
    QFETCH(int, ending);
    QFETCH(int, stopAfter);
    QFETCH(int, ran);
    QFETCH(int, atOnce);
    QFETCH(int, groupSize);
    Runner runner;
    std::mutex mutex;
    std::vector<int> running;
    int mostAtOnce = 0;
    bool dependentsMet = false;
    int mostStartedWhileHeld = 0;
    std::atomic<bool> ended = false; // the run's end, or its stop, was told
    std::atomic<int> started = 0;
    std::atomic<int> startedAfterEnd = 0;
    QList<int> taken;
    const bool oneGroup = groupSize == 0 || groupSize >= count;
    const auto groupOf = [groupSize](int index) { return groupSize == 0 ? 0 : index / groupSize; };
    const auto dependent = [oneGroup, groupOf](int earlier, int later) {
        return oneGroup ? later - earlier == 5 : groupOf(earlier) == groupOf(later);
    };
    std::vector<bool> entered(count);
    bool startedAhead = false; // while an earlier operation of another group was yet to start
    Overlap overlap { atOnce, dependent, {}, 0 };
    if (groupSize > 0) {
        overlap.group = [groupOf](int index) { return quint32(groupOf(index)); };
        overlap.ahead = 3 * groupSize;
    }
    const int done = runner.runEach<int>(
        count, RenameProgress::Work::Moving,
        [&](int index) {
            ++started;
            if (ended)
                ++startedAfterEnd;
            if (atOnce > 1) {
                {
                    const std::lock_guard lock(mutex);
                    for (const int other : running)
                        dependentsMet
                            = dependentsMet || dependent(std::min(other, index), std::max(other, index));
                    running.push_back(index);
                    for (int earlier = 0; earlier < index; ++earlier)
                        startedAhead
                            = startedAhead || (groupOf(earlier) != groupOf(index) && !entered[earlier]);
                    entered[index] = true;
                    mostAtOnce = std::max(mostAtOnce, static_cast<int>(running.size()));
                }
                // A share's round trips; a failing move takes longer, so later ones end before it.
                QThread::msleep(holding.contains(index) ? 40 : 8);
                const std::lock_guard lock(mutex);
                std::erase(running, index);
            }
            if (index + 1 == stopAfter)
                runner.requestStop();
            if (index + 1 == stopAfter || index == ending)
                ended = true;
            return index;
        },
        [&](int index, const int& outcome, bool afterStop) {
            // One at a time, nothing is under way at a stop; overlapped, all that ends after it.
            if (atOnce == 1 || stopAfter < 0)
                QVERIFY(!afterStop);
            else if (index >= stopAfter)
                QVERIFY(afterStop);
            QCOMPARE(outcome, index);
            if (holding.contains(index)) {
                if (oneGroup)
                    QCOMPARE_LE(started.load(), index + atOnce); // no more start
                const int before = started;
                QTest::qWait(20); // a box, up while the rest wait
                mostStartedWhileHeld = std::max(mostStartedWhileHeld, started - before);
            }
            taken.append(index);
        },
        [&holding](const int& outcome) { return holding.contains(outcome); },
        [ending](const int& outcome) { return outcome == ending; }, overlap);
    QCOMPARE_GE(done, ran);
    QCOMPARE(started.load(), done);
    QCOMPARE(taken.size(), done);
    QVERIFY(std::is_sorted(taken.begin(), taken.end()));
    QCOMPARE(std::adjacent_find(taken.begin(), taken.end()), taken.end());
    if (oneGroup) {
        QCOMPARE_LE(done, ran + atOnce - 1);
        QCOMPARE(taken.last(), done - 1);
    }
    // Only those other threads that were already taking their next could start after a hold or an
    // end.
    QCOMPARE_LE(mostStartedWhileHeld, atOnce - 1);
    QCOMPARE_LE(startedAfterEnd.load(), atOnce - 1);
    QVERIFY(!dependentsMet);
    QCOMPARE_LE(mostAtOnce, atOnce);
    if (atOnce > 1)
        QCOMPARE_GT(mostAtOnce, 1); // however busy the machine
    if (!oneGroup)
        QVERIFY(startedAhead);
}

void TestRunner::answersComeFromAnotherThread()
{
    Runner runner;
    const auto asked = runner.answer<std::thread::id>([] { return std::this_thread::get_id(); });
    QVERIFY(asked != std::this_thread::get_id());
}

// A hold lets events through until its answer, which may come with any of them.
void TestRunner::holdEndsWithItsAnswer()
{
    Runner runner;
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(1);
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start();
    bool answered = false;
    runner.hold([&](std::function<void()> answer) {
        QTimer::singleShot(50, this, [&answered, answer] {
            answered = true;
            answer();
        });
    });
    QVERIFY(answered);
    QCOMPARE_GT(ticks, 2); // the events went through meanwhile
}

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
