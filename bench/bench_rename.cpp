// Times an execute pass that changes the suffix of 100,000 files in one folder against a plain loop
// of no-replace renames over the same names on a fresh copy, the same for 10,000 files on a mounted
// exFAT volume against a plain rename() loop there (on Linux, where the volume can be mounted from
// an image file), and a preview of 500,000 rows.
// Usage: bench_rename [files] [exfat files]

#include "bench_support.h"
#include "dialog/message_boxes.h"
#include "file_list/file_list_model.h"
#include "file_list/file_list_ops.h"
#include "mounted_volume.h"
#include "platform/platform.h"

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
    const QByteArray folder = root + Platform::Separator + name + Platform::Separator;
    Bench::createDir(folder);
    for (long i = 0; i < files; ++i)
        Bench::createEmptyFile(folder + stem(i) + ".txt");
    return folder;
}

struct Timings
{
    double executeSeconds = 1e9;
    double loopSeconds = 1e9;
};

// Best of `rounds` execute passes over `files` files in `root` against the best of as many plain
// loops of `rename`. Each round renames fresh copies, since a rename cannot be repeated on the same
// files.
template <typename Rename>
Timings timeRenames(
    const QByteArray& root, long files, int rounds, Rename rename, F1MDE::RenameFeedback& feedback)
{
    Timings timings;
    for (int round = 0; round < rounds; ++round) {
        const QByteArray passFolder = makeFolder(root, "pass" + QByteArray::number(round), files);
        const QByteArray loopFolder = makeFolder(root, "loop" + QByteArray::number(round), files);
        FileListModel list;
        F1MDE::SearchFiles(list, passFolder, QStringLiteral(".txt"), feedback.messages);
        timings.executeSeconds = std::min(timings.executeSeconds,
            Bench::secondsOf([&] { F1MDE::ApplyNewNames(list, ".md", true, true, feedback); }));
        timings.loopSeconds = std::min(timings.loopSeconds, Bench::secondsOf([&] {
            for (long i = 0; i < files; ++i) {
                const QByteArray from = loopFolder + stem(i) + ".txt";
                const QByteArray to = loopFolder + stem(i) + ".md";
                if (rename(from.constData(), to.constData()) != 0)
                    std::exit(1);
            }
        }));
    }
    return timings;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long files = argc > 1 ? std::atol(argv[1]) : 100000;
    const long exfatFiles = argc > 2 ? std::atol(argv[2]) : 10000;
    QTemporaryDir dir;
    const QByteArray root = Platform::pathFromText(dir.path());
    CountingMessageBoxes messages;
    QString completion;
    F1MDE::RenameFeedback feedback { messages, [&completion](const QString& text) { completion = text; } };

#ifdef _WIN32
    // Without MOVEFILE_REPLACE_EXISTING the move never replaces a file.
    const auto noReplace = [](const char* from, const char* to) {
        return MoveFileExW(QString::fromUtf8(from).toStdWString().c_str(),
                   QString::fromUtf8(to).toStdWString().c_str(), 0)
            ? 0
            : -1;
    };
#else
    const auto noReplace = [](const char* from, const char* to) {
        return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    };
#endif
    const Timings local = timeRenames(root, files, 3, noReplace, feedback);

    Timings exfat;
#ifdef _WIN32
    std::fprintf(stderr, "no exFAT volume: volumes are mounted from image files on Linux only\n");
#else
    // exFAT through FUSE refuses the no-replace flag and hard links, so the pass checks and renames.
    MountedVolume volume(QStringLiteral("exfat"));
    if (volume.isMounted())
        exfat = timeRenames(volume.root(), exfatFiles, 2, ::rename, feedback);
    else
        std::fprintf(stderr, "no exFAT volume: %s\n", qPrintable(volume.whyNot()));
#endif

    if (messages.shown != 0) {
        std::fprintf(stderr, "%d renames failed; %s\n", messages.shown, qPrintable(completion));
        return 1;
    }

    constexpr int previewRows = 500000;
    FileListModel big;
    const QByteArray folder = QByteArray(1, Platform::Separator) + "bench" + Platform::Separator;
    for (int i = 0; i < previewRows; ++i)
        big.appendRow(folder, stem(i), ".txt");
    big.publishPendingRows();
    big.checkAllRows();
    const double previewSeconds
        = Bench::bestOf(3, [&] { F1MDE::ApplyNewNames(big, "name", false, false, feedback); });

    std::printf("files=%ld execute_s=%.3f loop_s=%.3f ratio=%.3f exfat_files=%ld exfat_execute_s=%.3f "
                "exfat_loop_s=%.3f exfat_ratio=%.3f preview_500k_s=%.4f\n",
        files, local.executeSeconds, local.loopSeconds, local.executeSeconds / local.loopSeconds, exfatFiles,
        exfat.executeSeconds, exfat.loopSeconds, exfat.executeSeconds / exfat.loopSeconds, previewSeconds);
    return 0;
}
