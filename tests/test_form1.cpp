#include "app_identity.h"
#include "dialog/folder_chooser.h"
#include "file_list/file_list_model.h"
#include "mounted_volume.h"
#include "test_support.h"
#include "window/command_line.h"
#include "window/form1.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <csignal>
#endif

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Answers the folder chooser with a prepared path and records how it was asked.
class RecordingFolderChooser final : public FolderChooser
{
public:
    QString chooseFolder(QWidget* owner, const QString& title) override
    {
        asked.append({ owner, title });
        return nextAnswer;
    }

    struct Asked
    {
        QWidget* owner = nullptr;
        QString title;
    };
    QList<Asked> asked;
    QString nextAnswer;
};

using Files = QMap<QByteArray, QByteArray>;
using Names = QMap<QString, QString>; // control -> what the accessibility layer reads for it

const QStringList allControls = { u"Frame1"_s, u"Frame3"_s, u"Label1"_s, u"Text1"_s, u"Command1"_s,
    u"Option1"_s, u"Text2"_s, u"Option2"_s, u"Text3"_s, u"Command2"_s, u"Frame2"_s, u"Option3"_s, u"Combo1"_s,
    u"Label5"_s, u"Text4"_s, u"Label4"_s, u"Text5"_s, u"Option4"_s, u"Text6"_s, u"Command3"_s, u"Label2"_s,
    u"Command4"_s, u"Frame5"_s, u"Text7"_s, u"ListView1"_s, u"Label7"_s, u"Label3"_s, u"Label6"_s,
    u"Command5"_s };

// The boxes whose enabled state the option buttons and the pattern box decide.
const QStringList ruledBoxes = { u"Text2"_s, u"Text3"_s, u"Combo1"_s, u"Text4"_s, u"Text5"_s, u"Text6"_s };

// What the accessibility layer reads for each control after load. On Linux Qt reads a combo box as
// its current item and leaves its caption to the label relation; on Windows, whose screen readers
// know no such relation, it reads the caption that names the box.
#ifdef _WIN32
const QString comboName = u"规则:"_s;
#else
const QString comboName = u" "_s;
#endif
const Names namesAfterLoad
    = { { u"Frame1"_s, u"功能设置"_s }, { u"Frame3"_s, u"筛选条件"_s }, { u"Label1"_s, u"路径:"_s },
          { u"Text1"_s, u"路径:"_s }, { u"Command1"_s, u"浏览"_s }, { u"Option1"_s, u"后缀名:"_s },
          { u"Text2"_s, u"后缀名:"_s }, { u"Option2"_s, u"关键字:"_s }, { u"Text3"_s, u"关键字:"_s },
          { u"Command2"_s, u"搜索"_s }, { u"Frame2"_s, u"修改规则"_s }, { u"Option3"_s, u"规则:"_s },
          { u"Combo1"_s, comboName }, { u"Label5"_s, u"起始:"_s }, { u"Text4"_s, u"起始:"_s },
          { u"Label4"_s, u"关键字:"_s }, { u"Text5"_s, u"关键字:"_s }, { u"Option4"_s, u"修改后缀名:"_s },
          { u"Text6"_s, u"修改后缀名:"_s }, { u"Command3"_s, u"预览"_s }, { u"Label2"_s, u"查看说明"_s },
          { u"Command4"_s, u"执行"_s }, { u"Frame5"_s, u"文件列表"_s }, { u"Text7"_s, u"帮助说明"_s },
          { u"ListView1"_s, u"文件列表"_s }, { u"Label7"_s, AppIdentity::contactLine() },
          { u"Label3"_s, QString() }, { u"Label6"_s, QString() }, { u"Command5"_s, u"退出"_s } };

const QString refusedPathText = u"请选择路径！"_s;

// What every control of `window` shows, for comparing two windows: "control.property" -> value.
QVariantMap stateOf(const QWidget& window)
{
    QVariantMap state;
    for (const QString& name : allControls) {
        const auto* widget = window.findChild<QWidget*>(name);
        for (const char* property :
            { "text", "plainText", "title", "checked", "enabled", "currentIndex", "count" }) {
            if (const QVariant value = widget->property(property); value.isValid())
                state.insert(name + u'.' + QString::fromLatin1(property), value);
        }
        state.insert(name + u".hidden"_s, widget->isHidden());
    }
    const auto* list = window.findChild<QTreeView*>(u"ListView1"_s);
    state.insert(u"ListView1.rows"_s, list->model()->rowCount());
    return state;
}

} // namespace

class TestForm1 final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void controlsHaveTheirKindContainerCaptionAndPlace_data();
    void controlsHaveTheirKindContainerCaptionAndPlace();
    void positionsInWindow_data();
    void positionsInWindow();
    void stateAfterLoad_data();
    void stateAfterLoad();
    void patternBoxListsThePatterns();
    void fileListHasItsColumnsAndNoRows();
    void focusStartsOnExecute();
    void controlsAreReadAsTheirCaptions_data();
    void controlsAreReadAsTheirCaptions();
    void controlsStayPutWhenTheWindowGrows();

    void enableRules_data();
    void enableRules();
    void disabledBoxKeepsItsText();

    void helpToggle();
    void doubleClickTogglesHelpOnce();
    void helpText();

    void tabOrder();
    void tabKeyVisitsEnabledControls();

    void exitEndsWithoutQuestion_data();
    void exitEndsWithoutQuestion();

    void browse_data();
    void browse();
    void dropOnPathBox_data();
    void dropOnPathBox();
    void commandLine_data();
    void commandLine();

    void pathCheck_data();
    void pathCheck();
    void searchFilters_data();
    void searchFilters();
    void searchOfAVolumeThatStopsAnswering();
    void searchDisablesWindowWhileScanning();
    void searchWhileHelpShownLeavesListCovered();
    void previewThenExecuteRenamesCheckedFilesOnly();
    void executeRenames_data();
    void executeRenames();
    void failedRenamesAreReportedOneByOne_data();
    void failedRenamesAreReportedOneByOne();
    void stoppingAnExecute_data();
    void stoppingAnExecute();
    void marksAreReadAndExecutesTakenBack();

private:
    template <typename T = QWidget> T* control(const QString& name) const
    {
        return m_window->findChild<T*>(name);
    }
    FileListModel* fileList() const;
    void perform(const QString& step);
    void search(const QString& path);
    QPoint inWindow(QWidget* widget) const { return widget->mapTo(m_window.get(), widget->rect().center()); }
    QByteArray fileOfRow(int row) const;
    QProgressDialog* progressDialog() const { return m_window->findChild<QProgressDialog*>(); }
    QString progressShown() const;

    RecordingMessageBoxes m_messages;
    RecordingFolderChooser m_chooser;
    std::unique_ptr<Form1> m_window;
};

void TestForm1::init()
{
    m_messages.shown.clear();
    m_messages.whileShown = nullptr;
    m_chooser = RecordingFolderChooser();
    m_window = std::make_unique<Form1>(m_messages, m_chooser);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestForm1::cleanup()
{
    m_window.reset();
}

FileListModel* TestForm1::fileList() const
{
    return qobject_cast<FileListModel*>(control<QTreeView>(u"ListView1"_s)->model());
}

QByteArray TestForm1::fileOfRow(int row) const
{
    return fileList()->fullPath(row);
}

// The progress dialog as it shows over the window: title, label, button and bar; "none" when no
// progress dialog is up.
QString TestForm1::progressShown() const
{
    auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible())
        return u"none"_s;
    auto* bar = dialog->findChild<QProgressBar*>();
    return QStringList { dialog->windowTitle(), dialog->labelText(),
        dialog->findChild<QPushButton*>()->text(), u"%1 of %2"_s.arg(bar->value()).arg(bar->maximum()) }
        .join(u" | "_s);
}

// One user action, written as "verb|control|text":
//   set|OptionN   the program selects the option button
//   click|Name    a mouse click on the control
//   pick|N        the program selects pattern N
//   down|Combo1   the Down key on the pattern box
//   type|TextN|t  replaces the box's text by typing t
void TestForm1::perform(const QString& step)
{
    const QStringList parts = step.split(u'|');
    const QString& verb = parts[0];
    if (verb == u"set") {
        control<QRadioButton>(parts[1])->setChecked(true);
    } else if (verb == u"click") {
        QTest::mouseClick(control(parts[1]), Qt::LeftButton);
    } else if (verb == u"pick") {
        control<QComboBox>(u"Combo1"_s)->setCurrentIndex(parts[1].toInt());
    } else if (verb == u"down") {
        QTest::keyClick(control(parts[1]), Qt::Key_Down);
    } else if (verb == u"type") {
        auto* box = control<QLineEdit>(parts[1]);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, parts[2]);
        QCOMPARE(box->text(), parts[2]);
    } else {
        QFAIL(qPrintable(u"unknown step "_s + step));
    }
}

void TestForm1::search(const QString& path)
{
    control<QLineEdit>(u"Text1"_s)->setText(path);
    QTest::mouseClick(control(u"Command2"_s), Qt::LeftButton);
}

void TestForm1::controlsHaveTheirKindContainerCaptionAndPlace_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");

    const auto row = [](const QString& name, const char* kind, const QString& container,
                         const QString& caption, const QRect& geometry) {
        QTest::newRow(qPrintable(name)) << name << QByteArray(kind) << container << caption << geometry;
    };
    row(u"Frame1"_s, "QGroupBox", u"window"_s, u"功能设置"_s, QRect(8, 8, 393, 233));
    row(u"Frame3"_s, "QGroupBox", u"Frame1"_s, u"筛选条件"_s, QRect(16, 16, 361, 87));
    row(u"Label1"_s, "QLabel", u"Frame3"_s, u"路径:"_s, QRect(16, 27, 33, 17));
    row(u"Text1"_s, "QLineEdit", u"Frame3"_s, QString(), QRect(48, 24, 219, 20));
    row(u"Command1"_s, "QPushButton", u"Frame3"_s, u"浏览"_s, QRect(280, 24, 65, 20));
    row(u"Option1"_s, "QRadioButton", u"Frame3"_s, u"后缀名:"_s, QRect(16, 60, 65, 12));
    row(u"Text2"_s, "QLineEdit", u"Frame3"_s, u".txt"_s, QRect(80, 57, 49, 20));
    row(u"Option2"_s, "QRadioButton", u"Frame3"_s, u"关键字:"_s, QRect(144, 60, 65, 17));
    row(u"Text3"_s, "QLineEdit", u"Frame3"_s, QString(), QRect(208, 57, 60, 20));
    row(u"Command2"_s, "QPushButton", u"Frame3"_s, u"搜索"_s, QRect(280, 56, 65, 20));
    row(u"Frame2"_s, "QGroupBox", u"Frame1"_s, u"修改规则"_s, QRect(16, 112, 361, 79));
    row(u"Option3"_s, "QRadioButton", u"Frame2"_s, u"规则:"_s, QRect(16, 18, 57, 17));
    row(u"Combo1"_s, "QComboBox", u"Frame2"_s, u" "_s, QRect(64, 17, 65, 20));
    row(u"Label5"_s, "QLabel", u"Frame2"_s, u"起始:"_s, QRect(144, 20, 33, 17));
    row(u"Text4"_s, "QLineEdit", u"Frame2"_s, u"1"_s, QRect(176, 16, 33, 20));
    row(u"Label4"_s, "QLabel", u"Frame2"_s, u"关键字:"_s, QRect(232, 20, 49, 17));
    row(u"Text5"_s, "QLineEdit", u"Frame2"_s, QString(), QRect(280, 16, 68, 20));
    row(u"Option4"_s, "QRadioButton", u"Frame2"_s, u"修改后缀名:"_s, QRect(16, 50, 89, 17));
    row(u"Text6"_s, "QLineEdit", u"Frame2"_s, u".txt"_s, QRect(104, 48, 49, 20));
    row(u"Command3"_s, "QPushButton", u"Frame2"_s, u"预览"_s, QRect(280, 48, 65, 20));
    row(u"Label2"_s, "QLabel", u"Frame1"_s, u"查看说明"_s, QRect(24, 200, 57, 25));
    row(u"Command4"_s, "QPushButton", u"Frame1"_s, u"执行"_s, QRect(312, 200, 65, 20));
    row(u"Frame5"_s, "QGroupBox", u"window"_s, u"文件列表"_s, QRect(408, 8, 393, 233));
    row(u"Text7"_s, "QPlainTextEdit", u"Frame5"_s, QString(), QRect(8, 16, 377, 209));
    row(u"ListView1"_s, "QTreeView", u"Frame5"_s, QString(), QRect(8, 16, 377, 209));
    row(u"Label7"_s, "QLabel", u"window"_s, AppIdentity::contactLine(), QRect(16, 252, 153, 17));
    row(u"Label3"_s, "QLabel", u"window"_s, QString(), QRect(408, 252, 153, 17));
    row(u"Label6"_s, "QLabel", u"window"_s, QString(), QRect(568, 252, 153, 17));
    row(u"Command5"_s, "QPushButton", u"window"_s, u"退出"_s, QRect(736, 248, 65, 20));
}

void TestForm1::controlsHaveTheirKindContainerCaptionAndPlace()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, kind);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);

    QWidget* widget = control(name);
    QVERIFY(widget);
    QVERIFY2(widget->inherits(kind.constData()), widget->metaObject()->className());
    QWidget* parent = widget->parentWidget();
    QCOMPARE(parent == m_window.get() ? u"window"_s : parent->objectName(), container);
    QCOMPARE(widget->geometry(), geometry);

    QString shown;
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        shown = frame->title();
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        shown = button->text();
    else if (auto* label = qobject_cast<QLabel*>(widget))
        shown = label->text();
    else if (auto* box = qobject_cast<QLineEdit*>(widget))
        shown = box->text();
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        shown = combo->currentText();
    QCOMPARE(shown, caption);
}

void TestForm1::positionsInWindow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("path box") << u"Text1"_s << QPoint(72, 48);
    QTest::newRow("suffix option") << u"Option1"_s << QPoint(40, 84);
    QTest::newRow("pattern box") << u"Combo1"_s << QPoint(88, 137);
    QTest::newRow("help link") << u"Label2"_s << QPoint(32, 208);
    QTest::newRow("execute") << u"Command4"_s << QPoint(320, 208);
    QTest::newRow("help text") << u"Text7"_s << QPoint(416, 24);
    QTest::newRow("exit") << u"Command5"_s << QPoint(736, 248);
}

void TestForm1::positionsInWindow()
{
    QFETCH(QString, name);
    QFETCH(QPoint, topLeft);
    QCOMPARE(control(name)->mapTo(m_window.get(), QPoint(0, 0)), topLeft);
}

void TestForm1::stateAfterLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("expected");

    const auto row
        = [](const char* description, const QString& name, const char* property, const QVariant& value) {
              QTest::newRow(description) << name << QByteArray(property) << value;
          };
    row("suffix filter selected", u"Option1"_s, "checked", true);
    row("keyword filter not selected", u"Option2"_s, "checked", false);
    row("rule mode selected", u"Option3"_s, "checked", true);
    row("suffix mode not selected", u"Option4"_s, "checked", false);
    row("path empty", u"Text1"_s, "text", QString());
    row("path enabled", u"Text1"_s, "enabled", true);
    row("suffix filter .txt", u"Text2"_s, "text", u".txt"_s);
    row("suffix filter enabled", u"Text2"_s, "enabled", true);
    row("keyword filter empty", u"Text3"_s, "text", QString());
    row("keyword filter disabled", u"Text3"_s, "enabled", false);
    row("eight patterns", u"Combo1"_s, "count", 8);
    row("first pattern selected", u"Combo1"_s, "currentIndex", 0);
    row("pattern box enabled", u"Combo1"_s, "enabled", true);
    row("pattern box not editable", u"Combo1"_s, "editable", false);
    row("start 1", u"Text4"_s, "text", u"1"_s);
    row("start enabled", u"Text4"_s, "enabled", true);
    row("rule keyword empty", u"Text5"_s, "text", QString());
    row("rule keyword disabled", u"Text5"_s, "enabled", false);
    row("new suffix .txt", u"Text6"_s, "text", u".txt"_s);
    row("new suffix disabled", u"Text6"_s, "enabled", false);
    row("help text hidden", u"Text7"_s, "visible", false);
    row("list caption", u"Frame5"_s, "title", u"文件列表"_s);
    row("list visible", u"ListView1"_s, "visible", true);
    row("count label empty", u"Label3"_s, "text", QString());
    row("completion label empty", u"Label6"_s, "text", QString());
}

void TestForm1::stateAfterLoad()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, expected);
    QObject* object = control(name);
    QVERIFY(object);
    QCOMPARE(object->property(property.constData()), expected);
    QCOMPARE(m_window->windowTitle(), AppIdentity::windowTitle());
}

void TestForm1::patternBoxListsThePatterns()
{
    auto* combo = control<QComboBox>(u"Combo1"_s);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    QCOMPARE(
        items, (QStringList { u" "_s, u"#"_s, u"##"_s, u"###"_s, u"*"_s, u"*-#"_s, u"*-##"_s, u"*-###"_s }));
}

void TestForm1::fileListHasItsColumnsAndNoRows()
{
    auto* view = control<QTreeView>(u"ListView1"_s);
    QVERIFY(fileList());
    QCOMPARE(fileList()->rowCount(), 0);
    QVERIFY(!view->rootIsDecorated());
    QVERIFY(view->uniformRowHeights());
    const QStringList headers = { u"预览"_s, u"路径"_s, u"源文件名"_s, u"原拓展名"_s };
    const QList<int> widths = { 127, 37, 127, 60 };
    QCOMPARE(view->header()->count(), 4);
    for (int column = 0; column < 4; ++column) {
        QCOMPARE(view->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        QCOMPARE(view->columnWidth(column), widths[column]);
    }
}

void TestForm1::focusStartsOnExecute()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(QApplication::focusWidget(), control(u"Command4"_s));
}

void TestForm1::controlsAreReadAsTheirCaptions_data()
{
    QTest::addColumn<QStringList>("steps"); // the path box names a folder of two files throughout
    QTest::addColumn<Names>("changed"); // the names that differ from those after load

    const QString count = u"文件数量: 2"_s;
    QTest::newRow("after load") << QStringList() << Names();
    QTest::newRow("after a search") << QStringList { u"click|Command2"_s }
                                    << Names { { u"Label3"_s, count } };
    QTest::newRow("after an execute") << QStringList { u"click|Command2"_s,
        u"click|Command4"_s } << Names { { u"Label3"_s, count }, { u"Label6"_s, u"已完成 2 个文件修改!"_s } };
    QTest::newRow("help shown") << QStringList { u"click|Label2"_s }
                                << Names { { u"Frame5"_s, u"帮助说明"_s } };
    QTest::newRow("help hidden again") << QStringList { u"click|Label2"_s, u"click|Label2"_s } << Names();
}

void TestForm1::controlsAreReadAsTheirCaptions()
{
    QFETCH(QStringList, steps);
    QFETCH(Names, changed);
    TestTree tree;
    tree.createDir("one");
    tree.createDir("two");
    tree.createFile("one/notes.txt");
    tree.createFile("two/notes.txt");
    control<QLineEdit>(u"Text1"_s)->setText(QFile::decodeName(tree.root()));
    for (const QString& step : steps)
        perform(step);

    QStringList covered = allControls;
    covered.sort();
    QCOMPARE(namesAfterLoad.keys(), covered);
    for (const QString& name : allControls) {
        QAccessibleInterface* readable = QAccessible::queryAccessibleInterface(control(name));
        QVERIFY2(readable, qPrintable(name));
        // Each side carries the control's name, so a mismatch says which control it is.
        QCOMPARE(name + u": "_s + readable->text(QAccessible::Name),
            name + u": "_s + changed.value(name, namesAfterLoad.value(name)));
    }

    // A caption that names a box is also reported as the box's label.
    for (const auto& [label, box] : { std::pair(u"Label1"_s, u"Text1"_s), std::pair(u"Label5"_s, u"Text4"_s),
             std::pair(u"Label4"_s, u"Text5"_s) }) {
        const auto relations
            = QAccessible::queryAccessibleInterface(control(box))->relations(QAccessible::Label);
        QVERIFY2(std::any_of(relations.begin(), relations.end(),
                     [&](const auto& relation) { return relation.first->object() == control(label); }),
            qPrintable(box));
    }
}

void TestForm1::controlsStayPutWhenTheWindowGrows()
{
    QCOMPARE(m_window->size(), QSize(809, 278));
    QVERIFY(!m_window->layout());
    QVERIFY(m_window->minimumSize() != m_window->maximumSize());
    QMap<QString, QRect> before;
    for (const QString& name : allControls)
        before.insert(name, control(name)->geometry());
    m_window->resize(1200, 700);
    QTRY_COMPARE(m_window->size(), QSize(1200, 700));
    for (const QString& name : allControls)
        QCOMPARE(control(name)->geometry(), before.value(name));
}

void TestForm1::enableRules_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("enabled");

    const QStringList atLoad = { u"Text2"_s, u"Combo1"_s, u"Text4"_s };
    QTest::newRow("after load") << QStringList() << atLoad;
    QTest::newRow("keyword filter swaps the filter boxes only")
        << QStringList { u"set|Option2"_s } << QStringList { u"Text3"_s, u"Combo1"_s, u"Text4"_s };
    QTest::newRow("keyword filter clicked")
        << QStringList { u"click|Option2"_s } << QStringList { u"Text3"_s, u"Combo1"_s, u"Text4"_s };
    QTest::newRow("suffix filter again") << QStringList { u"click|Option2"_s, u"click|Option1"_s } << atLoad;
    QTest::newRow("keyword pattern enables the keyword")
        << QStringList { u"pick|4"_s } << QStringList { u"Text2"_s, u"Combo1"_s, u"Text4"_s, u"Text5"_s };
    QTest::newRow("pattern 3 disables it again") << QStringList { u"pick|4"_s, u"pick|3"_s } << atLoad;
    QTest::newRow("pattern 0 disables it too") << QStringList { u"pick|4"_s, u"pick|0"_s } << atLoad;
    QTest::newRow("keyword patterns chosen by key") << QStringList {
        u"down|Combo1"_s, u"down|Combo1"_s, u"down|Combo1"_s, u"down|Combo1"_s, u"down|Combo1"_s
    } << QStringList { u"Text2"_s, u"Combo1"_s, u"Text4"_s, u"Text5"_s };
    QTest::newRow("suffix mode swaps the mode boxes only")
        << QStringList { u"click|Option4"_s } << QStringList { u"Text2"_s, u"Text6"_s };
    QTest::newRow("rule mode enables the keyword whatever the pattern")
        << QStringList { u"pick|1"_s, u"set|Option4"_s, u"set|Option3"_s }
        << QStringList { u"Text2"_s, u"Combo1"_s, u"Text4"_s, u"Text5"_s };
    QTest::newRow("the next pattern choice applies the index rule again")
        << QStringList { u"pick|1"_s, u"click|Option4"_s, u"click|Option3"_s, u"pick|2"_s } << atLoad;
    QTest::newRow("filter choice leaves the mode boxes")
        << QStringList { u"click|Option4"_s, u"click|Option2"_s } << QStringList { u"Text3"_s, u"Text6"_s };
    QTest::newRow("mode choice leaves the filter boxes") << QStringList { u"click|Option2"_s, u"pick|5"_s,
        u"click|Option4"_s } << QStringList { u"Text3"_s, u"Text6"_s };
    QTest::newRow("a pattern chosen from code looks at the index alone") << QStringList { u"set|Option4"_s,
        u"pick|6"_s } << QStringList { u"Text2"_s, u"Text5"_s, u"Text6"_s };
}

void TestForm1::enableRules()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, enabled);
    for (const QString& step : steps)
        perform(step);
    for (const QString& name : ruledBoxes)
        QVERIFY2(control(name)->isEnabled() == enabled.contains(name), qPrintable(name));
    // Exactly one button of each group stays selected.
    QVERIFY(
        control<QRadioButton>(u"Option1"_s)->isChecked() != control<QRadioButton>(u"Option2"_s)->isChecked());
    QVERIFY(
        control<QRadioButton>(u"Option3"_s)->isChecked() != control<QRadioButton>(u"Option4"_s)->isChecked());
}

void TestForm1::disabledBoxKeepsItsText()
{
    perform(u"click|Option2"_s);
    perform(u"type|Text3|report"_s);
    perform(u"click|Option1"_s);
    auto* keyword = control<QLineEdit>(u"Text3"_s);
    QVERIFY(!keyword->isEnabled());
    QCOMPARE(keyword->text(), u"report"_s);
    perform(u"click|Option2"_s);
    QVERIFY(keyword->isEnabled());
    QCOMPARE(keyword->text(), u"report"_s);
}

void TestForm1::helpToggle()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto* link = control<QLabel>(u"Label2"_s);
    auto* frame = control<QGroupBox>(u"Frame5"_s);
    auto* help = control<QPlainTextEdit>(u"Text7"_s);
    auto* list = control<QTreeView>(u"ListView1"_s);
    QWidget* focused = QApplication::focusWidget();
    const QPoint middle = list->geometry().center();

    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow(link));
    QCOMPARE(frame->title(), u"帮助说明"_s);
    QVERIFY(help->isVisible());
    QCOMPARE(help->geometry(), list->geometry());
    QVERIFY(help->isAncestorOf(frame->childAt(middle)));
    QVERIFY(list->isVisible());
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(link->text(), u"查看说明"_s);

    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow(link));
    QCOMPARE(frame->title(), u"文件列表"_s);
    QVERIFY(!help->isVisible());
    QVERIFY(list->isAncestorOf(frame->childAt(middle)));
    QCOMPARE(link->text(), u"查看说明"_s);
}

void TestForm1::doubleClickTogglesHelpOnce()
{
    auto* help = control(u"Text7"_s);
    // Through the window, so that the press, release, press, release pair becomes a double-click.
    QTest::mouseDClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow(control(u"Label2"_s)));
    QVERIFY(help->isVisible());
    QCOMPARE(control<QGroupBox>(u"Frame5"_s)->title(), u"帮助说明"_s);

    QTest::mouseDClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow(control(u"Label2"_s)));
    QVERIFY(!help->isVisible());
    QCOMPARE(control<QGroupBox>(u"Frame5"_s)->title(), u"文件列表"_s);
}

void TestForm1::helpText()
{
    const QString expected = u"筛选条件:\r\n"
                             u"1.路径:支持多级目录\r\n"
                             u"2.后缀名:只搜索当前设置的文件后缀名（单个后缀名）\r\n"
                             u"3.关键字:搜索含有当前设置的关键字的文件名\r\n"
                             u"                                                            \r\n"
                             u"修改规则:\r\n"
                             u"1.规则介绍:#命名为个位数（0-9）,##为十位数（01-99）,###为\r\n"
                             u"百位数（001-999）,*为重命名文件名为关键字,*-#为关键字-数\r\n"
                             u"字（0-9）\r\n"
                             u"修改后缀名:为替换文件拓展名\r\n"
                             u" \r\n"_s;
    QCOMPARE(Form1::helpText(), expected);

    const QStringList lines = expected.split(u"\r\n"_s);
    QCOMPARE(lines.size(), 12);
    QCOMPARE(lines[4], QString(60, u' '));
    QCOMPARE(lines[10], u" "_s);
    QVERIFY(lines[11].isEmpty());

    // The box shows each "\r\n" as one line break.
    auto* box = control<QPlainTextEdit>(u"Text7"_s);
    QCOMPARE(box->toPlainText(), QString(expected).replace(u"\r\n"_s, u"\n"_s));
    QCOMPARE(box->document()->blockCount(), 12);
    QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!box->isReadOnly());
}

void TestForm1::tabOrder()
{
    const QStringList expected = { u"Command4"_s, u"Command5"_s, u"Option3"_s, u"Combo1"_s, u"Text4"_s,
        u"Text2"_s, u"Text3"_s, u"Option4"_s, u"Text6"_s, u"Text5"_s, u"ListView1"_s, u"Option1"_s,
        u"Option2"_s, u"Command3"_s, u"Command2"_s, u"Text1"_s, u"Command1"_s, u"Text7"_s };
    QStringList chain;
    QWidget* start = control(u"Command4"_s);
    QWidget* widget = start;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && allControls.contains(widget->objectName()))
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start);
    QCOMPARE(chain, expected);
}

void TestForm1::tabKeyVisitsEnabledControls()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    // Disabled boxes, the hidden help text and the unselected button of each option group are
    // passed over.
    const QStringList expected
        = { u"Command5"_s, u"Option3"_s, u"Combo1"_s, u"Text4"_s, u"Text2"_s, u"ListView1"_s, u"Option1"_s,
              u"Command3"_s, u"Command2"_s, u"Text1"_s, u"Command1"_s, u"Command4"_s };
    QStringList visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, expected);
}

void TestForm1::exitEndsWithoutQuestion_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Exit button") << true;
    QTest::newRow("close box") << false;
}

void TestForm1::exitEndsWithoutQuestion()
{
    QFETCH(bool, byButton);
    if (byButton)
        QTest::mouseClick(control(u"Command5"_s), Qt::LeftButton);
    else
        QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
    // The only window quits the program as it closes; the real-window test sees the process end.
    QVERIFY(m_window->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(m_messages.shown.isEmpty());
}

void TestForm1::browse_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("cancelled empties the path") << QString();
    QTest::newRow("chosen folder fills the path") << u"/home/user/photos"_s;
}

void TestForm1::browse()
{
    QFETCH(QString, answer);
    control<QLineEdit>(u"Text1"_s)->setText(u"/typed/before"_s);
    m_chooser.nextAnswer = answer;
    QTest::mouseClick(control(u"Command1"_s), Qt::LeftButton);
    // Shown the way the system writes paths.
    QCOMPARE(control<QLineEdit>(u"Text1"_s)->text(), QDir::toNativeSeparators(answer));
    QCOMPARE(m_chooser.asked.size(), 1);
    QCOMPARE(m_chooser.asked[0].owner, m_window.get());
    QCOMPARE(m_chooser.asked[0].title, u"请选择文件夹"_s);
}

void TestForm1::dropOnPathBox_data()
{
    QTest::addColumn<QByteArray>("uriList"); // "<root>" stands for the temporary folder; empty: none
    QTest::addColumn<QString>("text"); // the drag's plain text; null: none
    QTest::addColumn<QString>("pathBox"); // after the drop on "/typed/before"
    QTest::addColumn<Qt::DropAction>("taken"); // the drag proposes a move

    const QByteArray photos = "file://<root>/%E5%81%87%E6%9C%9F%20photos";
    QTest::newRow("folder: its local path")
        << photos + "\r\n"
        << u"file://<root>/假期 photos"_s << u"<root>/假期 photos"_s << Qt::CopyAction;
    QTest::newRow("file: the path of its folder") << photos + "/a.jpg\r\n"
                                                  << QString() << u"<root>/假期 photos"_s << Qt::CopyAction;
    QTest::newRow("several: the first one") << photos + "\r\nfile://<root>/-dash\r\n"
                                            << QString() << u"<root>/假期 photos"_s << Qt::CopyAction;
    QTest::newRow("plain text: inserted where dropped")
        << QByteArray() << u"abc"_s << u"/typed/beforeabc"_s << Qt::MoveAction;
    QTest::newRow("web address: its text inserted")
        << QByteArray("https://example.org/photos\r\n") << u"https://example.org/photos"_s
        << u"/typed/beforehttps://example.org/photos"_s << Qt::MoveAction;
}

void TestForm1::dropOnPathBox()
{
    QFETCH(QByteArray, uriList);
    QFETCH(QString, text);
    QFETCH(QString, pathBox);
    QFETCH(Qt::DropAction, taken);
    TestTree tree;
    tree.createDir("假期 photos");
    tree.createDir("-dash");
    tree.createFile("假期 photos/a.jpg");
    const QString root = QFile::decodeName(tree.root());
    // In a URL, "/C:/..." on Windows.
    const QString urlRoot = QUrl::fromLocalFile(QDir::fromNativeSeparators(root)).path();

    QMimeData dragged;
    if (!uriList.isEmpty())
        dragged.setData(u"text/uri-list"_s, uriList.replace("<root>", QUrl::toPercentEncoding(urlRoot, "/")));
    if (!text.isNull())
        dragged.setText(text.replace(u"<root>"_s, urlRoot));
    auto* box = control<QLineEdit>(u"Text1"_s);
    box->setText(u"/typed/before"_s);
    // Past the end of the text; Shift makes the drag propose a move, as a file manager does with it.
    const QPoint end(box->width() - 4, box->height() / 2);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(end, offered, &dragged, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(box, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(end, offered, &dragged, Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(drop.proposedAction(), Qt::MoveAction);
    QApplication::sendEvent(box, &drop);

    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), taken);
    // A dropped folder is shown the way the system writes paths; dropped text stays as it is.
    if (pathBox.contains(u"<root>"_s))
        pathBox = QDir::toNativeSeparators(pathBox.replace(u"<root>"_s, root));
    QCOMPARE(box->text(), pathBox);
    box->undo();
    QCOMPARE(box->text(), u"/typed/before"_s);
}

void TestForm1::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // run in the temporary folder "<root>"
    QTest::addColumn<int>("status"); // -1: the window opens
    QTest::addColumn<QStringList>("answer"); // texts the program prints
    QTest::addColumn<QString>("pathBox"); // when the window opens

    const QString photos = u"<root>/假期 photos"_s;
    const auto opens = [](const char* name, const QStringList& arguments, const QString& pathBox) {
        QTest::newRow(name) << arguments << -1 << QStringList() << pathBox;
    };
    opens("no argument: the state after load", {}, QString());
    opens("absolute path", { photos }, photos);
    opens("relative path", { u"假期 photos"_s }, photos);
    opens("dots and a trailing separator", { u"./假期 photos/../假期 photos/"_s }, photos);
    opens("file URL with escaped bytes", { u"file://<root>/%E5%81%87%E6%9C%9F%20photos"_s }, photos);
    opens("file: its folder", { photos + u"/a.jpg"_s }, photos);
    opens("folder named like an option, after --", { u"--"_s, u"-dash"_s }, u"<root>/-dash"_s);
    opens("missing folder: shown, not searched", { u"<root>/missing"_s }, u"<root>/missing"_s);
#ifdef _WIN32
    // A command prompt's "E:\" reaches the program as E:" (CommandLineToArgvW's backslash rule).
    opens("folder ending in a quotation mark", { photos + u'"' }, photos);
    opens("drive ending in a quotation mark", { u"C:\""_s }, u"C:\\"_s);
#endif

    const QStringList usage
        = { u"用法 (usage): batch-renamer [选项 options] [文件夹 FOLDER]"_s, u"file://"_s, u"--version"_s };
    const auto answers
        = [](const char* name, const QStringList& arguments, int status, const QStringList& answer) {
              QTest::newRow(name) << arguments << status << answer << QString();
          };
    answers("help", { u"--help"_s }, 0, usage);
    answers("help, short", { u"-h"_s }, 0, usage);
    answers("help before a folder", { u"--help"_s, u"<root>"_s }, 0, usage);
    answers("version", { u"--version"_s }, 0, { u"batch-renamer "_s + AppIdentity::version() + u'\n' });
    answers("version, single dash", { u"-version"_s }, 0, { u"batch-renamer "_s + AppIdentity::version() });
    answers("unknown option", { u"--bogus"_s }, 2,
        { u"未知选项 (unknown option) --bogus"_s, u"batch-renamer --help"_s });
    answers("Qt's own option", { u"-style"_s, u"fusion"_s }, 2, { u"-style"_s });
    answers("two folders", { u"one"_s, u"two"_s }, 2, { u"only one folder"_s });
}

void TestForm1::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, answer);
    QFETCH(QString, pathBox);
    TestTree tree;
    tree.createDir("假期 photos");
    tree.createDir("-dash");
    tree.createFile("假期 photos/a.jpg");
    const QString root = QFile::decodeName(tree.root());
    // In a URL, "/C:/..." on Windows.
    arguments.replaceInStrings(
        u"file://<root>"_s, u"file://"_s + QUrl::fromLocalFile(QDir::fromNativeSeparators(root)).path());
    arguments.replaceInStrings(u"<root>"_s, root);
    const CommandLine::Outcome outcome
        = CommandLine::read(QStringList { u"batch-renamer"_s } + arguments, root);

    if (status < 0) {
        QVERIFY(!outcome.exitStatus);
        // As the program does at start; nothing but the path box may differ from a window opened
        // without arguments.
        const Form1 withoutArguments(m_messages, m_chooser);
        if (!outcome.folder.isEmpty())
            m_window->setPath(outcome.folder);
        QVariantMap expected = stateOf(withoutArguments);
        expected.insert(u"Text1.text"_s, QDir::toNativeSeparators(pathBox.replace(u"<root>"_s, root)));
        const QVariantMap state = stateOf(*m_window);
        QCOMPARE(state.keys(), expected.keys());
        for (auto shown = state.cbegin(); shown != state.cend(); ++shown)
            QVERIFY2(shown.value() == expected.value(shown.key()), qPrintable(shown.key()));
        QVERIFY(m_messages.shown.isEmpty());
        return;
    }

    // The real program, without a display: had it tried to open its window it would fail, so a
    // clean answer shows that it opened none.
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(root);
    program.start(QStringLiteral(BATCH_RENAMER_PROGRAM), arguments);
    QVERIFY(program.waitForFinished());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    // Into a pipe the program writes UTF-8, whatever the system's code page.
    const QString output = QString::fromUtf8(program.readAllStandardOutput());
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    // Answers go to standard output, refusals to standard error, and nothing to the other one.
    const QString& printed = status == 0 ? output : errors;
    QCOMPARE(status == 0 ? errors : output, QString());
    for (const QString& text : answer)
        QVERIFY2(printed.contains(text), qPrintable(printed));
    QCOMPARE(outcome.exitStatus, status);
    QCOMPARE(outcome.message, printed);
}

void TestForm1::pathCheck_data()
{
    // "<root>" stands for the temporary folder as the system writes it, "<root/>" for the same with
    // '/', "<unc>" for its UNC form, "<long>" for a folder path of over 260 characters below it.
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("rows"); // rows found when searched; -1: not searched

    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("missing folder") << u"<root>/missing"_s << false << 0;
    QTest::newRow("hidden folder") << u"<root>/.hidden"_s << false << 0;
    QTest::newRow("hidden folder, trailing separator") << u"<root>/.hidden/"_s << false << 0;
    QTest::newRow("wildcard matching nothing") << u"<root>/zz*"_s << false << 0;
    QTest::newRow("folder") << u"<root>/data"_s << true << 2;
    QTest::newRow("folder, trailing separator") << u"<root>/data/"_s << true << 2;
    QTest::newRow("one-character folder name") << u"<root>/a"_s << true << 1;
    QTest::newRow("existing file lists nothing") << u"<root>/data/one.txt"_s << true << 0;
    QTest::newRow("wildcard matching a folder lists nothing") << u"<root>/da?a"_s << true << 0;
    QTest::newRow("path over 260 characters") << u"<root>/<long>"_s << true << 1;
    QTest::newRow("root folder") << QDir::toNativeSeparators(QDir::rootPath()) << true << -1;
#ifdef _WIN32
    // Windows takes both separators, in any mix, and paths in their UNC and long forms.
    QTest::newRow("backslashes") << u"<root>\\data\\"_s << true << 2;
    QTest::newRow("forward slashes") << u"<root/>/data/"_s << true << 2;
    QTest::newRow("a leading dot alone hides nothing") << u"<root>\\.dotted"_s << true << 0;
    QTest::newRow("long form") << u"\\\\?\\<root>\\data"_s << true << 2;
    QTest::newRow("long form, over 260 characters") << u"\\\\?\\<root>\\<long>"_s << true << 1;
    QTest::newRow("UNC path") << u"<unc>\\data"_s << true << 2;
    QTest::newRow("UNC path, forward slashes") << u"<unc>/data/sub"_s << true << 1;
    QTest::newRow("UNC long form") << u"\\\\?\\UNC\\<unc>\\data"_s << true << 2;
#endif
}

void TestForm1::pathCheck()
{
    QFETCH(QString, path);
    QFETCH(bool, accepted);
    QFETCH(int, rows);
    TestTree tree;
    tree.createDir("data");
    tree.createDir("data/sub");
    tree.createDir("a");
    tree.createDir(".hidden");
    tree.createFile("data/one.txt");
    tree.createFile("data/sub/two.txt");
    tree.createFile("a/x.txt");
    tree.createFile(".hidden/h.txt");
    const QByteArray longName(100, 'l');
    const QByteArray longPath = longName + '/' + longName + '/' + longName;
    tree.createDir(longName);
    tree.createDir(longName + '/' + longName);
    tree.createDir(longPath);
    tree.createFile(longPath + "/deep.txt");
#ifdef _WIN32
    // Windows hides by an attribute, not by a leading dot.
    tree.makeHidden(".hidden");
    tree.createDir(".dotted");
    const QString unc = QString::fromUtf8(TestSystem::uncForm(tree.root()));
    if (path.contains(u"<unc>"_s) && !QFileInfo(unc).isDir())
        QSKIP("the administrative share \\\\localhost\\C$ is not reachable here");
    // The long form names the share without its leading separators.
    path.replace(u"UNC\\<unc>"_s, u"UNC"_s + unc.mid(1)).replace(u"<unc>"_s, unc);
#endif
    path.replace(u"<long>"_s, QString::fromUtf8(tree.path(longPath).mid(tree.root().size() + 1)))
        .replace(u"<root/>"_s, QDir::fromNativeSeparators(QString::fromUtf8(tree.root())))
        .replace(u"<root>"_s, QString::fromUtf8(tree.root()));

    QCOMPARE(Form1::acceptsSearchPath(path), accepted);
    if (rows < 0)
        return; // the whole file system is not searched

    search(path);
    auto* count = control<QLabel>(u"Label3"_s);
    if (accepted) {
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(fileList()->rowCount(), rows);
        QCOMPARE(count->text(), u"文件数量: "_s + QString::number(rows));
    } else {
        QCOMPARE(m_messages.shown.size(), 1);
        QCOMPARE(m_messages.shown[0].title, u"ERROR"_s);
        QCOMPARE(m_messages.shown[0].text, refusedPathText);
        QCOMPARE(count->text(), QString());
    }
    QVERIFY(m_window->isEnabled());
}

// A search of a volume that stops answering for a while (an exFAT volume whose driver is stopped,
// as a share that stalls) keeps the window answering: the check of the path and every listing wait
// on threads of their own.
void TestForm1::searchOfAVolumeThatStopsAnswering()
{
#ifdef _WIN32
    QSKIP("stalls a FUSE driver, which Windows has not");
#else
    MountedVolume volume(u"exfat"_s);
    if (!volume.isMounted())
        QSKIP(qPrintable(volume.whyNot()));
    for (int i = 0; i < 3; ++i)
        QVERIFY(
            QFile(QFile::decodeName(volume.root()) + u"/photo%1.txt"_s.arg(i)).open(QIODevice::WriteOnly));
    const auto driver = static_cast<pid_t>(volume.driverProcess());
    QVERIFY(driver > 0 && ::kill(driver, SIGSTOP) == 0);
    // The driver goes on after a while, whatever the window does meanwhile.
    std::thread resume([driver] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::kill(driver, SIGCONT);
    });
    QElapsedTimer sinceEvents;
    qint64 longestGapMs = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, this,
        [&] { longestGapMs = std::max(longestGapMs, sinceEvents.restart()); });
    ticker.start();
    sinceEvents.start();
    search(QFile::decodeName(volume.root()));
    longestGapMs = std::max(longestGapMs, sinceEvents.elapsed());
    resume.join();
    QCOMPARE(fileList()->rowCount(), 3);
    QVERIFY(m_messages.shown.isEmpty());
    QVERIFY2(longestGapMs < 250, qPrintable(u"events waited %1 ms"_s.arg(longestGapMs)));
#endif
}

void TestForm1::searchFilters_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<QByteArray>>("found");

    QTest::newRow("suffix, any case") << QStringList() << QList<QByteArray> { "Notes.TXT", "sub/report.txt" };
    QTest::newRow("other suffix") << QStringList { u"type|Text2|.md"_s } << QList<QByteArray> { "report.md" };
    QTest::newRow("keyword") << QStringList { u"click|Option2"_s, u"type|Text3|REP"_s }
                             << QList<QByteArray> { "report.md", "sub/report.txt" };
    QTest::newRow("keyword box read only when selected") << QStringList { u"click|Option2"_s,
        u"type|Text3|notes"_s, u"click|Option1"_s } << QList<QByteArray> { "Notes.TXT", "sub/report.txt" };
}

void TestForm1::searchFilters()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<QByteArray>, found);
    TestTree tree;
    tree.createDir("sub");
    tree.createFile("Notes.TXT");
    tree.createFile("report.md");
    tree.createFile("sub/report.txt");
    for (const QString& step : steps)
        perform(step);
    search(QFile::decodeName(tree.root()));

    QList<QByteArray> rows;
    for (int row = 0; row < fileList()->rowCount(); ++row) {
        QVERIFY(fileList()->isChecked(row));
        rows.append(tree.relative(fileOfRow(row)));
    }
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows, found);
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: "_s + QString::number(found.size()));
}

void TestForm1::searchDisablesWindowWhileScanning()
{
    TestTree tree;
    for (int i = 0; i < 120; ++i)
        tree.createFile(QByteArray::number(i) + ".txt");
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto* searchButton = control(u"Command2"_s);
    searchButton->setFocus();

    // Runs from the events the scan lets through.
    bool ranDuringScan = false;
    bool enabledDuringScan = true;
    QTimer::singleShot(0, m_window.get(), [&] {
        ranDuringScan = true;
        enabledDuringScan = m_window->isEnabled();
    });
    search(QFile::decodeName(tree.root()));

    QVERIFY(ranDuringScan);
    QVERIFY(!enabledDuringScan);
    QVERIFY(m_window->isEnabled());
    QCOMPARE(fileList()->rowCount(), 120);
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: 120"_s);
    // The single controls come back as they were, and so does the focus.
    for (const QString& name : ruledBoxes)
        QVERIFY2(control(name)->isEnabled() == (name == u"Text2" || name == u"Combo1" || name == u"Text4"),
            qPrintable(name));
    QCOMPARE(QApplication::focusWidget(), searchButton);
}

void TestForm1::searchWhileHelpShownLeavesListCovered()
{
    TestTree tree;
    tree.createFile("a.txt");
    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow(control(u"Label2"_s)));
    control<QLabel>(u"Label6"_s)->setText(u"已完成 3 个文件修改!"_s);
    search(QFile::decodeName(tree.root()));

    QCOMPARE(fileList()->rowCount(), 1);
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: 1"_s);
    QVERIFY(control(u"Text7"_s)->isVisible());
    QCOMPARE(control<QGroupBox>(u"Frame5"_s)->title(), u"帮助说明"_s);
    // A search leaves the completion text of the last execute.
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 3 个文件修改!"_s);
}

void TestForm1::previewThenExecuteRenamesCheckedFilesOnly()
{
    TestTree tree;
    tree.createDir("data");
    tree.createDir("data/sub");
    tree.createFile("data/a.txt", "A");
    tree.createFile("data/sub/b.txt", "B");
    tree.createFile("data/sub/keep.txt", "K");
    tree.createFile("data/c.md", "C");
    const Files before = tree.snapshot();

    search(QFile::decodeName(tree.path("data")));
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: 3"_s);
    FileListModel* list = fileList();
    QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    int keptRow = -1;
    for (int row = 0; row < list->rowCount(); ++row) {
        if (fileOfRow(row).endsWith("keep.txt"))
            keptRow = row;
    }
    QVERIFY(keptRow >= 0);
    QVERIFY(
        list->setData(list->index(keptRow, FileListModel::PreviewColumn), Qt::Unchecked, Qt::CheckStateRole));

    perform(u"pick|3"_s);
    perform(u"type|Text4|7"_s);
    QTest::mouseClick(control(u"Command3"_s), Qt::LeftButton);
    for (int row = 0; row < list->rowCount(); ++row) {
        const QString preview = list->index(row, FileListModel::PreviewColumn).data().toString();
        QCOMPARE(preview, row == keptRow ? u" "_s : u"007.txt"_s);
    }
    QCOMPARE(tree.snapshot(), before);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), QString());

    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(tree.snapshot(),
        (Files { { "data/007.txt", "A" }, { "data/sub/007.txt", "B" }, { "data/sub/keep.txt", "K" },
            { "data/c.md", "C" } }));
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 2 个文件修改!"_s);
    QVERIFY(m_messages.shown.isEmpty());
    // The rows still describe the names the files had when found.
    QCOMPARE(fileOfRow(keptRow), tree.path("data/sub/keep.txt"));
    QCOMPARE(list->index(keptRow, FileListModel::PreviewColumn).data().toString(), u" "_s);
}

void TestForm1::executeRenames_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("newName"); // in each of the two folders

    QTest::newRow("defaults: the start text as it stands") << QStringList() << QByteArray("1.txt");
    QTest::newRow("start text kept by the plain pattern")
        << QStringList { u"type|Text4|001"_s } << QByteArray("001.txt");
    QTest::newRow("two digits") << QStringList { u"pick|2"_s, u"type|Text4|+5"_s } << QByteArray("05.txt");
    QTest::newRow("keyword") << QStringList { u"pick|4"_s, u"type|Text5|photo"_s } << QByteArray("photo.txt");
    QTest::newRow("keyword and number") << QStringList { u"pick|6"_s, u"type|Text5|  photo "_s,
        u"type|Text4|3"_s } << QByteArray("photo-03.txt");
    QTest::newRow("new suffix, spaces removed")
        << QStringList { u"click|Option4"_s, u"type|Text6|  .md "_s } << QByteArray("notes.md");
    QTest::newRow("new suffix without a dot")
        << QStringList { u"click|Option4"_s, u"type|Text6|md"_s } << QByteArray("notesmd");
}

void TestForm1::executeRenames()
{
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, newName);
    TestTree tree;
    tree.createDir("one");
    tree.createDir("two");
    tree.createFile("one/notes.txt", "1");
    tree.createFile("two/notes.txt", "2");

    search(QFile::decodeName(tree.root()));
    for (const QString& step : steps)
        perform(step);
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);

    QCOMPARE(tree.snapshot(), (Files { { "one/" + newName, "1" }, { "two/" + newName, "2" } }));
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 2 个文件修改!"_s);
    QVERIFY(m_messages.shown.isEmpty());
}

void TestForm1::failedRenamesAreReportedOneByOne_data()
{
    QTest::addColumn<bool>("longExecute");
    QTest::newRow("quick execute: no progress") << false;
    QTest::newRow("long execute: each box over the progress") << true;
}

void TestForm1::failedRenamesAreReportedOneByOne()
{
    QFETCH(bool, longExecute);
    if (longExecute)
        m_window->setProgressDelay(0ms);
    TestTree tree;
    tree.createFile("x.txt", "x");
    tree.createFile("y.txt", "y");
    tree.createFile("z.txt", "z");
    search(QFile::decodeName(tree.root()));
    QCOMPARE(fileList()->rowCount(), 3);
    QStringList under; // what shows under each box
    m_messages.whileShown = [&] {
        QVERIFY(!m_window->isEnabled());
        under.append(progressShown());
    };
    const auto progressAt = [longExecute](int done) {
        return longExecute ? u"批量文件重命名 | 正在修改文件: %1 / 3 | 取消 | %1 of 3"_s.arg(done)
                           : u"none"_s;
    };

    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    // The first row takes the name; the others find it taken.
    const QByteArray first = tree.relative(fileOfRow(0));
    Files expected { { "x.txt", "x" }, { "y.txt", "y" }, { "z.txt", "z" } };
    expected.insert("1.txt", expected.take(first));
    QCOMPARE(tree.snapshot(), expected);
    QCOMPARE(m_messages.shown.size(), 2);
    for (int row = 1; row < 3; ++row) {
        QCOMPARE(m_messages.shown[row - 1].title, u"ERROR"_s);
        QCOMPARE(
            m_messages.shown[row - 1].text, u" 修改失败！项目地址: "_s + QFile::decodeName(fileOfRow(row)));
    }
    QCOMPARE(under, (QStringList { progressAt(2), progressAt(3) }));
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 1 个文件修改!"_s);
    QVERIFY(!progressDialog());
    QVERIFY(m_window->isEnabled());

    // Without a new search every row still names its old path, so every move fails.
    m_messages.shown.clear();
    under.clear();
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(m_messages.shown.size(), 3);
    QCOMPARE(under, (QStringList { progressAt(1), progressAt(2), progressAt(3) }));
    QCOMPARE(tree.snapshot(), expected);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 0 个文件修改!"_s);
}

void TestForm1::stoppingAnExecute_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("cancel button") << u"cancel"_s;
    QTest::newRow("Escape") << u"escape"_s;
    QTest::newRow("closing the window") << u"close"_s;
}

// A long execute stopped mid-pass. The box of the eleventh row, whose new name is taken, is where the
// test gets in (a recording box, unlike a real one, leaves the dialog free): the ten files before
// stay renamed, the rest keep their names, and the count says ten.
void TestForm1::stoppingAnExecute()
{
    QFETCH(QString, how);
    m_window->setProgressDelay(0ms);
    TestTree tree;
    for (int i = 0; i < 20; ++i)
        tree.createFile("f" + QByteArray::number(i) + ".txt", QByteArray::number(i));
    search(QFile::decodeName(tree.root()));
    QCOMPARE(fileList()->rowCount(), 20);
    constexpr int stopRow = 10;
    QByteArray taken = fileList()->name(stopRow);
    taken.replace(".txt", ".md");
    tree.createFile(taken, "taken");
    // A row the stopped pass does not reach is marked as a preview marks it.
    constexpr int unreachedRow = 15;
    QByteArray alsoTaken = fileList()->name(unreachedRow);
    alsoTaken.replace(".txt", ".md");
    tree.createFile(alsoTaken, "taken");
    const Files before = tree.snapshot();

    m_messages.whileShown = [&] {
        QProgressDialog* dialog = progressDialog();
        QVERIFY(dialog && dialog->isVisible());
        if (how == u"cancel")
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        else if (how == u"escape")
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
        else
            QVERIFY(!m_window->close());
    };
    perform(u"click|Option4"_s);
    perform(u"type|Text6|.md"_s);
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);

    Files expected = before;
    for (int row = 0; row < stopRow; ++row) {
        const QByteArray name = fileList()->name(row);
        expected.insert(QByteArray(name).replace(".txt", ".md"), expected.take(name));
    }
    QCOMPARE(tree.snapshot(), expected);
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 %1 个文件修改!"_s.arg(stopRow));
    QVERIFY(!progressDialog());
    const QModelIndex unreached = fileList()->index(unreachedRow, FileListModel::PreviewColumn);
    QCOMPARE(unreached.data(Qt::AccessibleDescriptionRole).toString(), u"目标已存在"_s);
    QCOMPARE(m_window->isVisible(), how != u"close");
}

// A preview marks the row that would fail, a screen reader reads why, the execute marks what it
// did, and Ctrl+Z outside a text box takes the execute back.
void TestForm1::marksAreReadAndExecutesTakenBack()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    TestTree tree;
    tree.createFile("a.txt", "a");
    tree.createFile("b.txt", "b");
    tree.createFile("b.md", "taken");
    const Files before = tree.snapshot();
    search(QFile::decodeName(tree.root()));
    perform(u"click|Option4"_s);
    perform(u"type|Text6|.md"_s);
    QTest::mouseClick(control(u"Command3"_s), Qt::LeftButton);

    FileListModel* list = fileList();
    const int a = fileOfRow(0).endsWith("a.txt") ? 0 : 1;
    const int b = 1 - a;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(control(u"ListView1"_s));
    QVERIFY(table && table->tableInterface());
    const auto readOut = [table](int row) {
        return table->tableInterface()
            ->cellAt(row, FileListModel::PreviewColumn)
            ->text(QAccessible::Description);
    };
    QCOMPARE(readOut(b), u"目标已存在"_s);
    QCOMPARE(readOut(a), QString());
    QVERIFY(!list->index(b, FileListModel::PreviewColumn).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(list->index(a, FileListModel::PreviewColumn).data(Qt::DecorationRole).isNull());
    QCOMPARE(tree.snapshot(), before);

    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(readOut(a), u"已修改"_s);
    QCOMPARE(readOut(b), u"修改失败：目标已存在"_s);
    const Files renamed = tree.snapshot();
    QCOMPARE(renamed.value("a.md"), QByteArray("a"));

    // In a text box Ctrl+Z takes back typing, not the execute.
    auto* suffixBox = control<QLineEdit>(u"Text6"_s);
    suffixBox->setFocus();
    QTest::keyClick(suffixBox, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE_NE(suffixBox->text(), u".md"_s);
    QCOMPARE(tree.snapshot(), renamed);

    QAction* undo = nullptr;
    for (QAction* action : control(u"ListView1"_s)->actions()) {
        if (action->text() == u"撤销上次执行")
            undo = action;
    }
    QVERIFY(undo && undo->isEnabled());
    control(u"ListView1"_s)->setFocus();
    QTest::keyClick(control(u"ListView1"_s), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(tree.snapshot(), before);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已撤销 1 个文件修改!"_s);
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(readOut(a), QString());
    // Nothing is left to take back.
    QVERIFY(!undo->isEnabled());
}

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
