#include "command_line.h"

#include "app_identity.h"
#include "platform/platform.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace CommandLine {

namespace {

// The status with which command-line tools refuse a command line they do not understand.
constexpr int usageError = 2;

QString helpText()
{
    const QString program = AppIdentity::programName();
    return u"用法 (usage): "_s + program
        + u" [选项 options] [文件夹 FOLDER]\n"
          u"\n"
          u"批量文件重命名：在文件夹及其下所有文件夹中搜索文件，预览新文件名，\n"
          u"并一次重命名勾选的文件。\n"
          u"Batch file renamer: searches a folder and every folder below it for files,\n"
          u"previews new names and renames the checked files at once.\n"
          u"\n"
          u"参数 (arguments):\n"
          u"  文件夹 FOLDER   启动时填入“路径”框的文件夹（路径或 file:// 地址；\n"
          u"                  若是文件，则填入它所在的文件夹）。不会自动开始搜索。\n"
          u"                  the folder put in the path box at start (a path or a\n"
          u"                  file:// URL; for a file, the folder that holds it).\n"
          u"                  No search starts by itself.\n"
          u"\n"
          u"选项 (options):\n"
          u"  -h, --help      显示本帮助并退出 (show this help and exit)\n"
          u"  -v, --version   显示名称和版本并退出 (show the name and version and exit)\n"_s;
}

QString refusal(const QString& reason)
{
    const QString program = AppIdentity::programName();
    return program + u": "_s + reason + u"\n"_s + u"用法请运行 (for the usage, run) "_s + program
        + u" --help\n"_s;
}

Outcome answer(int exitStatus, const QString& message)
{
    Outcome outcome;
    outcome.exitStatus = exitStatus;
    outcome.message = message;
    return outcome;
}

// An unknown option the way it was written, with its dashes and without a value after "=".
QString asWritten(const QString& name, const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        const QString option = argument.section(u'=', 0, 0);
        if (option == u"-"_s + name || option == u"--"_s + name)
            return option;
    }
    return u"--"_s + name;
}

// The folder argument as the user typed it. Windows' command-line parser takes a backslash before a
// quotation mark for an escaped quotation mark (CommandLineToArgvW's documented rule), so
// `batch-renamer "E:\"` arrives as `E:"`. No Windows name holds a quotation mark, so a final one
// there stands for the separator that was typed before it.
QString folderAsTyped(const QString& argument)
{
    if (Platform::Separator == '\\' && argument.endsWith(u'"'))
        return argument.first(argument.size() - 1) + u'\\';
    return argument;
}

} // namespace

Outcome read(const QStringList& arguments, const QString& workingFolder)
{
    QCommandLineParser parser;
    // "-help" and "-version" work too, the single-dash way of Qt programs.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList { u"h"_s, u"help"_s });
    const QCommandLineOption version(QStringList { u"v"_s, u"version"_s });
    parser.addOption(help);
    parser.addOption(version);

    if (!parser.parse(arguments)) {
        QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty())
            return answer(
                usageError, refusal(u"无法理解的参数 (unreadable argument): "_s + parser.errorText()));
        for (QString& name : unknown)
            name = asWritten(name, arguments);
        return answer(usageError, refusal(u"未知选项 (unknown option) "_s + unknown.join(u", "_s)));
    }
    if (parser.isSet(help))
        return answer(0, helpText());
    if (parser.isSet(version))
        return answer(0, AppIdentity::programName() + u' ' + AppIdentity::version() + u'\n');

    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1)
        return answer(usageError, refusal(u"只能给出一个文件夹 (only one folder may be given)"_s));
    Outcome outcome;
    if (!folders.isEmpty())
        outcome.folder = folderPath(folderAsTyped(folders.constFirst()), workingFolder);
    return outcome;
}

QString folderPath(const QString& pathOrUrl, const QString& workingFolder)
{
    // Desktops hand a folder over as a file:// URL, its bytes escaped.
    const QString path
        = pathOrUrl.startsWith(u"file:"_s, Qt::CaseInsensitive) ? QUrl(pathOrUrl).toLocalFile() : pathOrUrl;
    const QFileInfo entry(QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path)));
    const QString folder = entry.exists() && !entry.isDir() ? entry.absolutePath() : entry.absoluteFilePath();
    // The path box shows paths the way the platform writes them.
    return QDir::toNativeSeparators(folder);
}

} // namespace CommandLine
