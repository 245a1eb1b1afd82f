// What the window tells a screen reader beyond the names of its controls: the results of its
// commands, presented without the focus moving; the patterns in words; each row's check state; on
// Windows the same notices raised as the system's notifications.

#include "form1_harness.h"
#include "system_stand_in.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QTreeView>

#include <utility>

#ifdef _WIN32
#include <uiautomationclient.h> // UIA_NativeWindowHandlePropertyId
#include <uiautomationcore.h>
#endif

using namespace Qt::StringLiterals;

namespace {

const QStringList patternWords = { u"起始值原样"_s, u"一位数字"_s, u"两位数字"_s, u"三位数字"_s, u"关键字"_s,
    u"关键字加短横线加一位数字"_s, u"关键字加短横线加两位数字"_s, u"关键字加短横线加三位数字"_s };

// A notice as the window raised it for Windows' screen readers: its text, its NotificationKind
// (ActionCompleted 2, Other 4) and its NotificationProcessing (MostRecent 3).
struct Raised
{
    QString text;
    int kind = 0;
    int processing = 0;
    bool operator==(const Raised&) const = default;
};
using RaisedList = QList<Raised>;

constexpr int actionCompleted = 2;
constexpr int other = 4;
constexpr int mostRecent = 3;

Raised result(const QString& text)
{
    return { text, actionCompleted, mostRecent };
}

#ifdef _WIN32
RaisedList raisedNotices;
QList<quintptr> raisedFor; // the native window handle each notice's element reports

// Stands in for UiaRaiseNotificationEvent, which Wine lacks, and records what it is given.
HRESULT WINAPI recordNotice(IRawElementProviderSimple* element, Platform::Native::NotificationKind kind,
    Platform::Native::NotificationProcessing processing, BSTR text, BSTR)
{
    raisedNotices.append(
        { QString::fromWCharArray(text, int(SysStringLen(text))), int(kind), int(processing) });
    VARIANT handle;
    element->GetPropertyValue(UIA_NativeWindowHandlePropertyId, &handle);
    raisedFor.append(handle.vt == VT_I4 ? quintptr(handle.lVal) : 0);
    return S_OK;
}

// What reaches UI Automation of a combo box's change of value: Qt 6.4 raises a string as a
// notification of its own.
QVariantList valuesHandedOn;

void recordUpdate(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::ValueChanged && qobject_cast<QComboBox*>(event->object()))
        valuesHandedOn.append(static_cast<QAccessibleValueChangeEvent*>(event)->value());
}
#endif

} // namespace

Q_DECLARE_METATYPE(RaisedList)

#ifdef _WIN32
namespace QTest {
template <> char* toString(const Raised& raised)
{
    return QTest::toString(
        u"%1 (kind %2, processing %3)"_s.arg(raised.text).arg(raised.kind).arg(raised.processing));
}
} // namespace QTest
#endif

class TestForm1Speech final : public Form1Harness
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void resultsArePresentedWithoutMovingFocus_data();
    void resultsArePresentedWithoutMovingFocus();
    void patternBoxIsReadInWords_data();
    void patternBoxIsReadInWords();
    void patternChosenByKeyIsPresented();
    void rowIsReadWithItsCheckState_data();
    void rowIsReadWithItsCheckState();
    void noticesAreRaisedForWindowsScreenReaders_data();
    void noticesAreRaisedForWindowsScreenReaders();
    void patternBoxChangeReachesUiAutomationInWords_data();
    void patternBoxChangeReachesUiAutomationInWords();

private:
    // What the notification reads while it is shown; empty while it is not.
    QString notificationText() const
    {
        for (QWidget* child : m_window->findChildren<QWidget*>()) {
            QAccessibleInterface* readable = QAccessible::queryAccessibleInterface(child);
            if (readable && readable->role() == QAccessible::Notification)
                return child->isVisible() ? readable->text(QAccessible::Name) : QString();
        }
        return u"no notification"_s;
    }
    // Records each message as the notification shows with it; Qt tells a screen reader of each
    // showing (where one listens: the offscreen platform has no accessibility bridge).
    void startRecording()
    {
        for (QWidget* child : m_window->findChildren<QWidget*>()) {
            QAccessibleInterface* readable = QAccessible::queryAccessibleInterface(child);
            if (readable && readable->role() == QAccessible::Notification)
                child->installEventFilter(this);
        }
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            m_shown.append(QAccessible::queryAccessibleInterface(watched)->text(QAccessible::Name));
        return false;
    }
    QStringList takeShown() { return std::exchange(m_shown, {}); }

    QStringList m_shown;

    void focusOn(const QString& name)
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        control(name)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), control(name));
    }
};

void TestForm1Speech::initTestCase()
{
#ifdef _WIN32
    // Before the first window, which hands what it changes on to the handler it finds.
    QAccessible::installUpdateHandler(recordUpdate);
#endif
}

void TestForm1Speech::resultsArePresentedWithoutMovingFocus_data()
{
    QTest::addColumn<QStringList>("commands"); // buttons clicked after the path is set
    QTest::addColumn<QByteArrayList>("files"); // below the searched folder
    QTest::addColumn<QStringList>("presented"); // by the last command
    QTest::addColumn<QString>("label"); // that shows the result, unchanged by its presentation

    const QByteArrayList twoFolders = { "one/a.txt", "two/b.txt" };
    const QByteArrayList sameFolder = { "one/a.txt", "one/c.txt", "two/b.txt" };
    QTest::newRow("search") << QStringList { u"Command2"_s } << twoFolders << QStringList { u"文件数量: 2"_s }
                            << u"Label3"_s;
    QTest::newRow("execute") << QStringList { u"Command2"_s, u"Command4"_s } << twoFolders
                             << QStringList { u"已完成 2 个文件修改!"_s } << u"Label6"_s;
    QTest::newRow("preview, all would rename")
        << QStringList { u"Command2"_s, u"Command3"_s } << twoFolders << QStringList() << QString();
    QTest::newRow("preview, one would fail") << QStringList { u"Command2"_s, u"Command3"_s } << sameFolder
                                             << QStringList { u"1 个文件将无法修改"_s } << QString();
    QTest::newRow("execute with a failure") << QStringList { u"Command2"_s, u"Command4"_s } << sameFolder
                                            << QStringList { u"已完成 2 个文件修改!"_s } << u"Label6"_s;
    QTest::newRow("same count twice is presented twice")
        << QStringList { u"Command2"_s, u"Command2"_s } << twoFolders << QStringList { u"文件数量: 2"_s }
        << u"Label3"_s;
}

void TestForm1Speech::resultsArePresentedWithoutMovingFocus()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArrayList, files);
    QFETCH(QStringList, presented);
    QFETCH(QString, label);
    TestTree tree;
    tree.createDir("one");
    tree.createDir("two");
    for (const QByteArray& file : files)
        tree.createFile(file);
    control<QLineEdit>(u"Text1"_s)->setText(QFile::decodeName(tree.root()));
    focusOn(commands.constLast());

    startRecording();
    for (const QString& command : commands) {
        takeShown();
        QTest::mouseClick(control(command), Qt::LeftButton);
    }
    QCOMPARE(takeShown(), presented);
    QCOMPARE(notificationText(), presented.value(0));
    // A progress that came and went takes the window's activation with it for a moment.
    QTRY_COMPARE(QApplication::focusWidget(), control(commands.constLast()));
    if (!label.isEmpty())
        QCOMPARE(control<QLabel>(label)->text(), presented.constFirst());
}

void TestForm1Speech::patternBoxIsReadInWords_data()
{
    QTest::addColumn<int>("pattern");
    for (int i = 0; i < patternWords.size(); ++i)
        QTest::addRow("%d", i) << i;
}

void TestForm1Speech::patternBoxIsReadInWords()
{
    QFETCH(int, pattern);
    auto* combo = control<QComboBox>(u"Combo1"_s);
    perform(u"pick|%1"_s.arg(pattern));
    QAccessibleInterface* readable = QAccessible::queryAccessibleInterface(combo);
    QCOMPARE(readable->role(), QAccessible::ComboBox);
    QCOMPARE(readable->text(QAccessible::Value), patternWords[pattern]);
    QVERIFY(readable->textInterface());
    QCOMPARE(readable->textInterface()->text(0, readable->textInterface()->characterCount()),
        patternWords[pattern]);
#ifdef Q_OS_UNIX
    QCOMPARE(readable->text(QAccessible::Name), patternWords[pattern]);
#else
    QCOMPARE(readable->text(QAccessible::Name), u"规则:"_s);
#endif
    // The caption of the option button before it is its label, which is no ancestor of it.
    QStringList labels;
    for (const auto& [label, relation] : readable->relations(QAccessible::Label))
        if (auto* widget = qobject_cast<QWidget*>(label->object()); widget && !widget->isAncestorOf(combo))
            labels.append(label->text(QAccessible::Name));
    QCOMPARE(labels, QStringList { u"规则:"_s });
    // The drop-down list reads the same words; the box still shows the sign.
    QCOMPARE(readable->childCount(), 1);
    QAccessibleInterface* list = readable->child(0);
    QVERIFY(list && list->tableInterface());
    QCOMPARE(list->tableInterface()->cellAt(pattern, 0)->text(QAccessible::Name), patternWords[pattern]);
    QCOMPARE(combo->currentText(),
        (QStringList {
            u" "_s, u"#"_s, u"##"_s, u"###"_s, u"*"_s, u"*-#"_s, u"*-##"_s, u"*-###"_s })[pattern]);
}

void TestForm1Speech::patternChosenByKeyIsPresented()
{
    focusOn(u"Combo1"_s);
    startRecording();
    QTest::keyClick(control(u"Combo1"_s), Qt::Key_Down);
    QCOMPARE(takeShown(), QStringList { patternWords[1] });
    QTest::keyClick(control(u"Combo1"_s), Qt::Key_Up);
    QCOMPARE(takeShown(), QStringList { patternWords[0] });
    // Chosen by the program, not by the user in the box: nothing to present.
    focusOn(u"Command4"_s);
    perform(u"pick|3"_s);
    QCOMPARE(takeShown(), QStringList());
}

void TestForm1Speech::rowIsReadWithItsCheckState_data()
{
    QTest::addColumn<QStringList>("keys"); // Space on the list, or a click on Preview
    QTest::addColumn<QString>("cell"); // what the first row's preview cell reads afterwards
    QTest::addColumn<QStringList>("presented"); // by the last key

    QTest::newRow("after the search") << QStringList() << u"已勾选，未预览"_s << QStringList();
    QTest::newRow("unchecked by Space")
        << QStringList { u"space"_s } << u"未勾选，未预览"_s << QStringList { u"未勾选"_s };
    QTest::newRow("checked again") << QStringList { u"space"_s, u"space"_s } << u"已勾选，未预览"_s
                                   << QStringList { u"已勾选"_s };
    QTest::newRow("previewed") << QStringList { u"preview"_s } << u"已勾选，1.txt"_s << QStringList();
    QTest::newRow("unchecked, then previewed")
        << QStringList { u"space"_s, u"preview"_s } << u"未勾选，未预览"_s << QStringList();
}

void TestForm1Speech::rowIsReadWithItsCheckState()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, cell);
    QFETCH(QStringList, presented);
    TestTree tree;
    tree.createDir("one");
    tree.createFile("one/a.txt");
    search(QFile::decodeName(tree.root()));
    auto* view = control<QTreeView>(u"ListView1"_s);
    focusOn(u"ListView1"_s);
    QCOMPARE(view->currentIndex().row(), 0);

    startRecording();
    for (const QString& key : keys) {
        takeShown();
        if (key == u"space")
            QTest::keyClick(view, Qt::Key_Space);
        else
            QTest::mouseClick(control(u"Command3"_s), Qt::LeftButton);
    }
    QAccessibleInterface* readable
        = QAccessible::queryAccessibleInterface(view)->tableInterface()->cellAt(0, 0);
    QCOMPARE(readable->text(QAccessible::Name), cell);
    QCOMPARE(readable->state().checked, fileList()->isChecked(0));
    QCOMPARE(fileList()->data(fileList()->index(0, 0)).toString(),
        keys.contains(u"preview"_s) && fileList()->isChecked(0) ? u"1.txt"_s : u" "_s);
    QCOMPARE(takeShown(), presented);
}

void TestForm1Speech::noticesAreRaisedForWindowsScreenReaders_data()
{
    QTest::addColumn<QStringList>("steps"); // after the path is set: perform()'s, "space" and "undo"
    QTest::addColumn<RaisedList>("raised");

    QTest::newRow("search, preview with a failure, execute, undo")
        << QStringList { u"click|Command2"_s, u"click|Command3"_s, u"click|Command4"_s, u"undo"_s }
        << RaisedList { result(u"文件数量: 3"_s), result(u"1 个文件将无法修改"_s),
               result(u"已完成 2 个文件修改!"_s), result(u"已撤销 2 个文件修改!"_s) };
    QTest::newRow("pattern chosen by key")
        << QStringList { u"down|Combo1"_s } << RaisedList { { patternWords[1], other, mostRecent } };
    QTest::newRow("row toggled by Space")
        << QStringList { u"click|Command2"_s, u"space"_s, u"space"_s }
        << RaisedList { result(u"文件数量: 3"_s), { u"未勾选"_s, other, mostRecent },
               { u"已勾选"_s, other, mostRecent } };
}

void TestForm1Speech::noticesAreRaisedForWindowsScreenReaders()
{
#ifdef _WIN32
    QFETCH(QStringList, steps);
    QFETCH(RaisedList, raised);
    TestTree tree;
    tree.createDir("one");
    tree.createDir("two");
    for (const QByteArray& file : QByteArrayList { "one/a.txt", "one/c.txt", "two/b.txt" })
        tree.createFile(file);
    control<QLineEdit>(u"Text1"_s)->setText(QFile::decodeName(tree.root()));
    const SystemStandIn::Restored restored;
    Platform::Native::calls.raiseNotificationEvent = recordNotice;
    raisedNotices.clear();
    raisedFor.clear();

    for (const QString& step : steps) {
        if (step == u"space" || step == u"undo") {
            focusOn(u"ListView1"_s);
            if (step == u"space")
                QTest::keyClick(control(u"ListView1"_s), Qt::Key_Space);
            else
                QTest::keyClick(control(u"ListView1"_s), Qt::Key_Z, Qt::ControlModifier);
            continue;
        }
        if (step.startsWith(u"down|"))
            focusOn(step.section(u'|', 1));
        perform(step);
    }
    QCOMPARE(raisedNotices, raised);
    QCOMPARE(raisedFor, QList<quintptr>(raised.size(), quintptr(m_window->winId())));
#else
    QSKIP("Orca hears the window's notification object; Windows' notifications are raised on Windows only");
#endif
}

void TestForm1Speech::patternBoxChangeReachesUiAutomationInWords_data()
{
    QTest::addColumn<bool>("windowRaises"); // whether the system has the notification
    QTest::addColumn<QVariantList>("handedOn");

    QTest::newRow("the window raises the words itself") << true << QVariantList { QVariant() };
    QTest::newRow("the system has no notification (Windows before 1709)")
        << false << QVariantList { patternWords[1] };
}

void TestForm1Speech::patternBoxChangeReachesUiAutomationInWords()
{
#ifdef _WIN32
    QFETCH(bool, windowRaises);
    QFETCH(QVariantList, handedOn);
    const SystemStandIn::Restored restored;
    Platform::Native::calls.raiseNotificationEvent = windowRaises ? recordNotice : nullptr;
    // The offscreen platform has no accessibility, without which QAccessible calls no handler: the
    // box's change is given to the window's handler as QComboBox sends it, with the item's text.
    const QAccessible::UpdateHandler windowHandler = QAccessible::installUpdateHandler(nullptr);
    QAccessible::installUpdateHandler(windowHandler);
    QVERIFY(windowHandler && windowHandler != recordUpdate);
    auto* box = control<QComboBox>(u"Combo1"_s);
    box->setCurrentIndex(1);
    valuesHandedOn.clear();
    QAccessibleValueChangeEvent change(box, box->currentText());
    windowHandler(&change);
    QCOMPARE(valuesHandedOn, handedOn);
#else
    QSKIP("Qt's UI Automation, which speaks a combo box's new value, is Windows' alone");
#endif
}

QTEST_MAIN(TestForm1Speech)
#include "test_form1_speech.moc"
