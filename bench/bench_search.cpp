// Times a search of a large tree against find(1) on the same tree, warm cache, best of 3, and
// measures the resident memory the rows take; then times the same search through the window's
// Search button against the search alone.
// Usage: bench_search [files] ; files defaults to 1,000,000 in 10,000 folders, half of them ".txt".

#include "bench_support.h"
#include "dialog/folder_chooser.h"
#include "dialog/message_boxes.h"
#include "file_list/file_list_model.h"
#include "file_list/file_list_ops.h"
#include "window/form1.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

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

} // namespace

int main(int argc, char** argv)
{
    // The view is drawn off screen, so the benchmark runs the same with or without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long files = argc > 1 ? std::atol(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    std::fprintf(stderr, "making %ld files under %s\n", files, root.constData());
    makeTree(root, files);

    const QByteArray findCommand = "find '" + root + "' -type f -iname '*.txt*' > /dev/null";
    if (std::system(findCommand.constData()) != 0) // warms the cache
        return 1;
    const double findSeconds = Bench::bestOf(3, [&] {
        if (std::system(findCommand.constData()) != 0)
            std::exit(1);
    });

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
    window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QFile::decodeName(root));
    QPushButton* searchButton = window.findChild<QPushButton*>(QStringLiteral("Command2"));
    const double windowSeconds = Bench::bestOf(3, [&] {
        searchButton->click();
        QApplication::processEvents();
    });

    std::printf("files=%ld rows=%d search_s=%.3f find_s=%.3f ratio=%.3f bytes_per_row=%.1f window_s=%.3f "
                "window_ratio=%.3f\n",
        files, rows, searchSeconds, findSeconds, searchSeconds / findSeconds,
        rows ? static_cast<double>(residentAfter - residentBefore) / rows : 0.0, windowSeconds,
        windowSeconds / searchSeconds);
    std::fflush(stdout);
    std::fprintf(stderr, "removing the tree\n");
    return 0;
}
