// Times an execute pass that changes the suffix of 100,000 files in one folder against a plain loop
// of no-replace renames over the same names on a fresh copy, and a preview of 500,000 rows.
// Usage: bench_rename [files]

#include "bench_support.h"
#include "dialog/message_boxes.h"
#include "file_list/file_list_model.h"
#include "file_list/file_list_ops.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

class CountingMessageBoxes final : public MessageBoxes
{
public:
    void show(const QString&, const QString&) override { ++shown; }
    int shown = 0;
};

QByteArray stem(long i)
{
    return "file" + QByteArray::number(i);
}

QByteArray makeFolder(const QByteArray& root, const QByteArray& name, long files)
{
    const QByteArray folder = root + '/' + name + '/';
    Bench::createDir(folder);
    for (long i = 0; i < files; ++i)
        Bench::createEmptyFile(folder + stem(i) + ".txt");
    return folder;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long files = argc > 1 ? std::atol(argv[1]) : 100000;
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    CountingMessageBoxes messages;
    QString completion;
    F1MDE::RenameFeedback feedback { messages, [&completion](const QString& text) { completion = text; } };

    // Each round renames fresh copies, since a rename cannot be repeated on the same files.
    double executeSeconds = 1e9;
    double loopSeconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        const QByteArray passFolder = makeFolder(root, "pass" + QByteArray::number(round), files);
        const QByteArray loopFolder = makeFolder(root, "loop" + QByteArray::number(round), files);
        FileListModel list;
        F1MDE::SearchFiles(list, passFolder, QStringLiteral(".txt"), messages);
        executeSeconds = std::min(executeSeconds,
            Bench::secondsOf([&] { F1MDE::ApplyNewNames(list, ".md", true, true, feedback); }));
        loopSeconds = std::min(loopSeconds, Bench::secondsOf([&] {
            for (long i = 0; i < files; ++i) {
                const QByteArray from = loopFolder + stem(i) + ".txt";
                const QByteArray to = loopFolder + stem(i) + ".md";
                if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0)
                    std::exit(1);
            }
        }));
    }
    if (messages.shown != 0) {
        std::fprintf(stderr, "%d renames failed; %s\n", messages.shown, qPrintable(completion));
        return 1;
    }

    constexpr int previewRows = 500000;
    FileListModel big;
    const QByteArray folder = "/bench/";
    for (int i = 0; i < previewRows; ++i)
        big.appendRow(folder, stem(i), ".txt");
    big.publishPendingRows();
    big.checkAllRows();
    const double previewSeconds
        = Bench::bestOf(3, [&] { F1MDE::ApplyNewNames(big, "name", false, false, feedback); });

    std::printf("files=%ld execute_s=%.3f loop_s=%.3f ratio=%.3f preview_500k_s=%.4f\n", files,
        executeSeconds, loopSeconds, executeSeconds / loopSeconds, previewSeconds);
    return 0;
}
