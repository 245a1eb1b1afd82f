// Times a search of a large tree against find(1) on the same tree (on Windows, where there is no
// find(1), against a plain FindFirstFileExW walk), warm cache, best of 3, and measures the resident
// memory the rows take; then times the same search through the window's Search button against the
// search alone.
// On Linux it then times a search of a share with 10 ms round trips (sshfs through a delaying proxy,
// see delaying_proxy.h) against find(1) and `fdfind -j8` on the same share, each on a fresh mount.
// Usage: bench_search [files] ; files defaults to 1,000,000 in 10,000 folders, half of them ".txt".
//        bench_search share   ; the share case alone.

#include "bench_support.h"
#include "dialog/folder_chooser.h"
#include "dialog/message_boxes.h"
#include "file_list/file_list_model.h"
#include "platform/platform.h"
#include "rename/rename_session.h"
#include "runner/runner.h"
#include "window/form1.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <string>
#else
#include "delaying_proxy.h"

#include <QProcess>
#include <QStandardPaths>
#endif

namespace {

class PrintingMessageBoxes final : public MessageBoxes
{
public:
    void open(const QString& title, const QString& text, std::function<void()> closed) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        closed();
    }
};

void printFailure(const FolderAllList::FolderFailure& failure)
{
    std::fprintf(stderr, "the search failed in %s\n", failure.folder.constData());
}

class NoFolderChooser final : public FolderChooser
{
public:
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
};

// `files` files, half of them ".TXT", spread evenly over the folders below `topFolders` folders.
void makeTree(const QByteArray& root, long files, int topFolders = 100, int foldersPerTop = 100)
{
    const long leaves = long(topFolders) * foldersPerTop;
    long made = 0;
    for (int top = 0; top < topFolders; ++top) {
        const QByteArray topPath = root + Platform::Separator + "top" + QByteArray::number(top);
        Bench::createDir(topPath);
        for (int sub = 0; sub < foldersPerTop; ++sub) {
            const QByteArray dir
                = topPath + Platform::Separator + "sub" + QByteArray::number(sub) + Platform::Separator;
            Bench::createDir(dir);
            const long leaf = top * foldersPerTop + sub;
            const long target = files * (leaf + 1) / leaves;
            for (; made < target; ++made)
                Bench::createEmptyFile(
                    dir + "file" + QByteArray::number(made) + (made % 2 ? ".dat" : ".TXT"));
        }
    }
}

#ifdef _WIN32
// Counts the files whose names hold ".txt" in any case, folder by folder, as a program written
// straight against the Windows API would: large fetches, no short names, reparse points not entered.
long walk(const std::wstring& folder)
{
    long found = 0;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
        FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            found += walk(folder + L'\\' + name);
        else if (QString::fromStdWString(name).contains(QStringLiteral(".txt"), Qt::CaseInsensitive))
            ++found;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}
#endif

#ifndef _WIN32
// The number of lines `program` writes.
long linesOf(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    return process.readAllStandardOutput().count('\n');
}

// 2,000 folders of 16 files each on a share with 10 ms round trips; every search runs once, on a fresh
// mount. Returns the fields for the last line, or nothing where the share cannot be made.
QByteArray shareCase(RenameSession& session)
{
    constexpr int tops = 40;
    constexpr int subsPerTop = 49;
    constexpr long files = tops * subsPerTop * 16;
    QTemporaryDir served;
    const QByteArray servedRoot = Platform::pathFromText(served.path());
    makeTree(servedRoot, files, tops, subsPerTop);
    const long expected = (files + 1) / 2;

    SshfsShare share(servedRoot);
    QByteArray whyNot = share.whyNot();
    if (whyNot.isEmpty() && QStandardPaths::findExecutable(QStringLiteral("fdfind")).isEmpty())
        whyNot = "fdfind is not installed (fd-find)";
    if (!whyNot.isEmpty()) {
        std::fprintf(stderr, "share case skipped: %s\n", whyNot.constData());
        return {};
    }
    const Loopback::DelayingProxy proxy(share.port(), std::chrono::milliseconds(10) / 2);
    const QString mounted = QFile::decodeName(share.root());
    const auto cold = [&](const char* what, const std::function<long()>& search) {
        if (!share.mount(proxy.port())) {
            std::fprintf(stderr, "%s\n", share.whyNot().constData());
            std::exit(1);
        }
        long found = 0;
        const double seconds = Bench::secondsOf([&] { found = search(); });
        share.unmount();
        std::fprintf(stderr, "share: %s %.3f s\n", what, seconds);
        if (found != expected) {
            std::fprintf(stderr, "%s found %ld files of %ld\n", what, found, expected);
            std::exit(1);
        }
        return seconds;
    };
    const double findSeconds = cold("find", [&] {
        return linesOf(QStringLiteral("find"),
            { mounted, QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-iname"),
                QStringLiteral("*.txt*") });
    });
    const double fdSeconds = cold("fdfind -j8", [&] {
        return linesOf(QStringLiteral("fdfind"),
            { QStringLiteral("-j8"), QStringLiteral("-u"), QStringLiteral("-t"), QStringLiteral("f"),
                QStringLiteral("-i"), QStringLiteral("--"), QStringLiteral("\\.txt"), mounted });
    });
    const double searchSeconds = cold("search", [&] {
        Runner runner;
        session.SearchFiles(share.root(), QStringLiteral(".txt"), runner, printFailure);
        QApplication::processEvents();
        return long(session.list().rowCount());
    });
    return "share_folders=" + QByteArray::number(tops * (subsPerTop + 1))
        + " share_s=" + QByteArray::number(searchSeconds, 'f', 3) + " share_find_s="
        + QByteArray::number(findSeconds, 'f', 3) + " share_fd_s=" + QByteArray::number(fdSeconds, 'f', 3)
        + " share_ratio=" + QByteArray::number(searchSeconds / findSeconds, 'f', 3)
        + " share_fd_ratio=" + QByteArray::number(searchSeconds / fdSeconds, 'f', 3);
}
#endif

// Search of a local tree of `files` files against the baseline, warm cache; returns the fields for
// the last line.
QByteArray localCase(long files, MessageBoxes& messages)
{
    QTemporaryDir dir;
    const QByteArray root = Platform::pathFromText(dir.path());
    std::fprintf(stderr, "making %ld files under %s\n", files, root.constData());
    makeTree(root, files);

#ifdef _WIN32
    const char* baselineName = "walk_s";
    const std::wstring wideRoot = L"\\\\?\\" + QString::fromUtf8(root).toStdWString();
    const auto baseline = [&] {
        if (walk(wideRoot) != (files + 1) / 2)
            std::exit(1);
    };
#else
    const char* baselineName = "find_s";
    const QByteArray findCommand = "find '" + root + "' -type f -iname '*.txt*' > /dev/null";
    const auto baseline = [&] {
        if (std::system(findCommand.constData()) != 0)
            std::exit(1);
    };
#endif
    baseline(); // warms the cache
    const double baselineSeconds = Bench::bestOf(3, baseline);

    RenameSession session;
    FileListModel& list = session.list();
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&list);
    view.resize(800, 400);
    view.show();
    QApplication::processEvents();

    const qint64 residentBefore = Bench::residentBytes();
    // The search ends when the view has taken in the last rows.
    const auto search = [&] {
        Runner runner;
        session.SearchFiles(root, QStringLiteral(".txt"), runner, printFailure);
        QApplication::processEvents();
    };
    double searchSeconds = Bench::secondsOf(search);
    const qint64 residentAfter = Bench::residentBytes();
    const int rows = list.rowCount();
    for (int run = 1; run < 3; ++run)
        searchSeconds = std::min(searchSeconds, Bench::secondsOf(search));

    NoFolderChooser chooser;
    Form1 window(messages, chooser);
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QString::fromUtf8(root));
    QPushButton* searchButton = window.findChild<QPushButton*>(QStringLiteral("Command2"));
    const double windowSeconds = Bench::bestOf(3, [&] {
        searchButton->click();
        QApplication::processEvents();
    });

    std::fprintf(stderr, "removing the tree\n");
    return QString::asprintf("files=%ld rows=%d search_s=%.3f %s=%.3f ratio=%.3f bytes_per_row=%.1f "
                             "window_s=%.3f window_ratio=%.3f",
        files, rows, searchSeconds, baselineName, baselineSeconds, searchSeconds / baselineSeconds,
        rows ? static_cast<double>(residentAfter - residentBefore) / rows : 0.0, windowSeconds,
        windowSeconds / searchSeconds)
        .toUtf8();
}

} // namespace

int main(int argc, char** argv)
{
    // The view is drawn off screen, so the benchmark runs the same with or without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool shareOnly = argc > 1 && qstrcmp(argv[1], "share") == 0;
    PrintingMessageBoxes messages;
    QByteArrayList fields;
    if (!shareOnly)
        fields.append(localCase(argc > 1 ? std::atol(argv[1]) : 1000000, messages));
#ifdef _WIN32
    if (shareOnly)
        std::fprintf(stderr, "the share case runs on Linux only\n");
#else
    RenameSession session;
    if (const QByteArray share = shareCase(session); !share.isEmpty())
        fields.append(share);
#endif
    std::printf("%s\n", fields.join(' ').constData());
    return 0;
}
