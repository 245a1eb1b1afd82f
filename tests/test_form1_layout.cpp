// The main window as it loads: its controls, what enables them, the help, the tab order and the exit.

#include "app_identity.h"
#include "form1_harness.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QTextDocument>
#include <QTreeView>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

using Names = QMap<QString, QString>; // control -> what the accessibility layer reads for it

// What the accessibility layer reads for each control after load. On Linux Qt reads a combo box as
// its current item, here in words, and leaves its caption to the label relation; on Windows, whose
// screen readers know no such relation, it reads the caption that names the box.
#ifdef _WIN32
const QString comboName = u"规则:"_s;
#else
const QString comboName = u"起始值原样"_s;
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

} // namespace

class TestForm1Layout final : public Form1Harness
{
    Q_OBJECT

private Q_SLOTS:
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
};

void TestForm1Layout::controlsHaveTheirKindContainerCaptionAndPlace_data()
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

void TestForm1Layout::controlsHaveTheirKindContainerCaptionAndPlace()
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

void TestForm1Layout::positionsInWindow_data()
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

void TestForm1Layout::positionsInWindow()
{
    QFETCH(QString, name);
    QFETCH(QPoint, topLeft);
    QCOMPARE(control(name)->mapTo(m_window.get(), QPoint(0, 0)), topLeft);
}

void TestForm1Layout::stateAfterLoad_data()
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

void TestForm1Layout::stateAfterLoad()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, expected);
    QObject* object = control(name);
    QVERIFY(object);
    QCOMPARE(object->property(property.constData()), expected);
    QCOMPARE(m_window->windowTitle(), AppIdentity::windowTitle());
}

void TestForm1Layout::patternBoxListsThePatterns()
{
    auto* combo = control<QComboBox>(u"Combo1"_s);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    QCOMPARE(
        items, (QStringList { u" "_s, u"#"_s, u"##"_s, u"###"_s, u"*"_s, u"*-#"_s, u"*-##"_s, u"*-###"_s }));
}

void TestForm1Layout::fileListHasItsColumnsAndNoRows()
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

void TestForm1Layout::focusStartsOnExecute()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(QApplication::focusWidget(), control(u"Command4"_s));
}

void TestForm1Layout::controlsAreReadAsTheirCaptions_data()
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

void TestForm1Layout::controlsAreReadAsTheirCaptions()
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

void TestForm1Layout::controlsStayPutWhenTheWindowGrows()
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

void TestForm1Layout::enableRules_data()
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

void TestForm1Layout::enableRules()
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

void TestForm1Layout::disabledBoxKeepsItsText()
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

void TestForm1Layout::helpToggle()
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

void TestForm1Layout::doubleClickTogglesHelpOnce()
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

void TestForm1Layout::helpText()
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

void TestForm1Layout::tabOrder()
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

void TestForm1Layout::tabKeyVisitsEnabledControls()
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

void TestForm1Layout::exitEndsWithoutQuestion_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Exit button") << true;
    QTest::newRow("close box") << false;
}

void TestForm1Layout::exitEndsWithoutQuestion()
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

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
