// The program's command line: the folder it opens the window on, and its answers without a window.

#include "app_identity.h"
#include "command_line/command_line.h"
#include "form1_harness.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QUrl>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

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

class TestCommandLine final : public Form1Harness
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
};

void TestCommandLine::commandLine_data()
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

void TestCommandLine::commandLine()
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

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
