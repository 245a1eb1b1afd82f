// Times a search of a large tree against find(1) on the same tree (on Windows, where there is no
// find(1), against a plain FindFirstFileExW walk), warm cache, best of 3, and measures the resident
// memory the rows take; then times the same search through the window's Search button against the
// search alone.
// Usage: bench_search [files] ; files defaults to 1,000,000 in 10,000 folders, half of them ".txt".

#include "bench_support.h"
#include "dialog/folder_chooser.h"
#include "dialog/message_boxes.h"
#include "file_list/file_list_model.h"
#include "file_list/file_list_ops.h"
#include "platform/platform.h"
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
#endif

namespace {

class PrintingMessageBoxes final : public MessageBoxes
{
public:
    void show(const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
};

class NoFolderChooser final : public FolderChooser
{
public:
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
};

constexpr int topFolders = 100;
constexpr int foldersPerTop = 100;

void makeTree(const QByteArray& root, long files)
{
    const long leaves = topFolders * foldersPerTop;
    long made = 0;
    for (int top = 0; top < topFolders; ++top) {
        const QByteArray topPath = root + "/top" + QByteArray::number(top);
        Bench::createDir(topPath);
        for (int sub = 0; sub < foldersPerTop; ++sub) {
            const QByteArray dir = topPath + "/sub" + QByteArray::number(sub) + '/';
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

} // namespace

int main(int argc, char** argv)
{
    // The view is drawn off screen, so the benchmark runs the same with or without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long files = argc > 1 ? std::atol(argv[1]) : 1000000;
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

    FileListModel list;
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&list);
    view.resize(800, 400);
    view.show();
    QApplication::processEvents();
    PrintingMessageBoxes messages;

    const qint64 residentBefore = Bench::residentBytes();
    // The search ends when the view has taken in the last rows.
    const auto search = [&] {
        F1MDE::SearchFiles(list, root, QStringLiteral(".txt"), messages);
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

    std::printf("files=%ld rows=%d search_s=%.3f %s=%.3f ratio=%.3f bytes_per_row=%.1f window_s=%.3f "
                "window_ratio=%.3f\n",
        files, rows, searchSeconds, baselineName, baselineSeconds, searchSeconds / baselineSeconds,
        rows ? static_cast<double>(residentAfter - residentBefore) / rows : 0.0, windowSeconds,
        windowSeconds / searchSeconds);
    std::fflush(stdout);
    std::fprintf(stderr, "removing the tree\n");
    return 0;
}
