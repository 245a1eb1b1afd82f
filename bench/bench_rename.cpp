// Times an execute pass that changes the suffix of 100,000 files in one folder against a plain loop
// of no-replace renames over the same names on a fresh copy, then its undo against a plain loop
// renaming them back, with the memory the undo keeps per file; the same for 10,000 files on a
// mounted exFAT volume against a plain rename() loop there (on Linux, where the volume can be
// mounted from an image file); and a preview of 500,000 rows, which asks the disk about every row,
// against a plain loop of one look-up per row, with the longest wait of the events meanwhile: once
// for rows of one extension and once for rows of two. On Linux it then times an execute and its undo
// of 2,000 files on a share with 10 ms round trips (sshfs through a delaying proxy, see
// delaying_proxy.h) against a plain rename() loop there and back: in one folder, and in 40.
// Usage: bench_rename [files] [exfat files] [share files]

#include "bench_support.h"
#include "file_list/file_list_model.h"
#include "mounted_volume.h"
#include "platform/platform.h"
#include "rename/rename_session.h"
#include "runner/runner.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include "delaying_proxy.h"
#include "sshfs_share.h"

#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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
    double undoSeconds = 1e9;
    double loopBackSeconds = 1e9;
    double undoBytesPerFile = 0;
    double recordBytesPerFile = 0; // the execute's record on disk
    double floorSeconds = 1e9; // a loop of the careful way to rename there: a look-up, then a rename
};

// Best of `rounds` execute passes over `files` files in `root`, kept on record in `recordFolder`,
// against the best of as many plain loops of `rename`, and of `floor`. Each round renames fresh
// copies, since a rename cannot be repeated on the same files.
template <typename Rename, typename Floor>
Timings timeRenames(const QByteArray& root, const QByteArray& recordFolder, long files, int rounds,
    Rename rename, Floor floor, const FolderFailureReport& folderFailed, const FailureReport& report)
{
    Timings timings;
    for (int round = 0; round < rounds; ++round) {
        const QByteArray passFolder = makeFolder(root, "pass" + QByteArray::number(round), files);
        const QByteArray loopFolder = makeFolder(root, "loop" + QByteArray::number(round), files);
        const QByteArray floorFolder = makeFolder(root, "floor" + QByteArray::number(round), files);
        RenameSession session(recordFolder);
        Runner runner;
        session.SearchFiles(passFolder, QStringLiteral(".txt"), runner, folderFailed);
        timings.executeSeconds = std::min(timings.executeSeconds, Bench::secondsOf([&] {
            session.ApplyNewNames(".md", PassKind::Execute, NameMode::NewExtension, runner, report);
        }));
        timings.undoBytesPerFile = static_cast<double>(session.undoBytesHeld()) / files;
        qint64 recordBytes = 0;
        for (QDirIterator it(QString::fromUtf8(recordFolder), { QStringLiteral("*.record") }, QDir::Files);
             it.hasNext();)
            recordBytes += it.nextFileInfo().size();
        timings.recordBytesPerFile = static_cast<double>(recordBytes) / files;
        timings.undoSeconds
            = std::min(timings.undoSeconds, Bench::secondsOf([&] { session.undo(runner, report); }));
        // The plain loop takes the files in the order the folder lists them, as a search finds
        // them, and back in the reverse order, as an undo takes them: on ext4 that order is by
        // the names' hash, and renaming in the order the files were made would be faster only for
        // touching their inodes one after another.
        const auto renameAll
            = [](const QByteArray& folder, auto way, const char* from, const char* to, bool reversed) {
                  QList<QByteArray> listed;
                  for (QDirIterator it(QString::fromUtf8(folder), QDir::Files); it.hasNext();)
                      listed.append(it.nextFileInfo().completeBaseName().toUtf8());
                  return Bench::secondsOf([&] {
                      for (qsizetype i = 0; i < listed.size(); ++i) {
                          const QByteArray& name = listed[reversed ? listed.size() - 1 - i : i];
                          const QByteArray fromPath = folder + name + from;
                          const QByteArray toPath = folder + name + to;
                          if (way(fromPath.constData(), toPath.constData()) != 0)
                              std::exit(1);
                      }
                  });
              };
        timings.loopSeconds
            = std::min(timings.loopSeconds, renameAll(loopFolder, rename, ".txt", ".md", false));
        timings.loopBackSeconds
            = std::min(timings.loopBackSeconds, renameAll(loopFolder, rename, ".md", ".txt", true));
        timings.floorSeconds
            = std::min(timings.floorSeconds, renameAll(floorFolder, floor, ".txt", ".md", false));
    }
    return timings;
}

#ifndef _WIN32
// `files` files on a share with 10 ms round trips, in `folders` folders of as many each: an execute,
// kept on record in `recordFolder`, and its undo, against a plain rename() loop there and back over
// as many files, folder by folder as a search lists them. Returns the fields for the last line, each
// named after `prefix`, or nothing where the share cannot be made.
QByteArray shareCase(long files, long folders, const QByteArray& prefix, const QByteArray& recordFolder,
    const FolderFailureReport& folderFailed, const FailureReport& report)
{
    QTemporaryDir served;
    const QByteArray servedRoot = Platform::pathFromText(served.path());
    // Made where the server keeps them: through the share each would take round trips.
    const auto folderName = [](long folder) { return "f" + QByteArray::number(folder); };
    for (const char* tree : { "pass", "loop" }) {
        Bench::createDir(servedRoot + "/" + tree);
        for (long folder = 0; folder < folders; ++folder)
            makeFolder(servedRoot + "/" + tree, folderName(folder), files / folders);
    }
    SshfsShare share(servedRoot);
    if (!share.whyNot().isEmpty()) {
        std::fprintf(stderr, "share case skipped: %s\n", share.whyNot().constData());
        return {};
    }
    const Loopback::DelayingProxy proxy(share.port(), std::chrono::milliseconds(10) / 2);
    if (!share.mount(proxy.port())) {
        std::fprintf(stderr, "%s\n", share.whyNot().constData());
        std::exit(1);
    }
    const auto unmounted = qScopeGuard([&share] { share.unmount(); });
    RenameSession session(recordFolder);
    Runner runner;
    session.SearchFiles(share.root() + "/pass/", QStringLiteral(".txt"), runner, folderFailed);
    const double executeSeconds = Bench::secondsOf(
        [&] { session.ApplyNewNames(".md", PassKind::Execute, NameMode::NewExtension, runner, report); });
    const double undoSeconds = Bench::secondsOf([&] { session.undo(runner, report); });
    const auto renameAll = [&](const char* from, const char* to, bool reversed) {
        return Bench::secondsOf([&] {
            for (long i = 0; i < files; ++i) {
                const long at = reversed ? files - 1 - i : i;
                const QByteArray name = share.root() + "/loop/" + folderName(at / (files / folders)) + "/"
                    + stem(at % (files / folders));
                if (::rename((name + from).constData(), (name + to).constData()) != 0)
                    std::exit(1);
            }
        });
    };
    const double loopSeconds = renameAll(".txt", ".md", false);
    const double loopBackSeconds = renameAll(".md", ".txt", true);
    return " " + prefix + "files=" + QByteArray::number(files) + " " + prefix
        + "folders=" + QByteArray::number(folders) + " " + prefix
        + "execute_s=" + QByteArray::number(executeSeconds, 'f', 3) + " " + prefix
        + "loop_s=" + QByteArray::number(loopSeconds, 'f', 3) + " " + prefix
        + "ratio=" + QByteArray::number(executeSeconds / loopSeconds, 'f', 3) + " " + prefix
        + "undo_s=" + QByteArray::number(undoSeconds, 'f', 3) + " " + prefix
        + "loop_back_s=" + QByteArray::number(loopBackSeconds, 'f', 3) + " " + prefix
        + "undo_ratio=" + QByteArray::number(undoSeconds / loopBackSeconds, 'f', 3);
}
#endif

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long files = argc > 1 ? std::atol(argv[1]) : 100000;
    const long exfatFiles = argc > 2 ? std::atol(argv[2]) : 10000;
    const long shareFiles = argc > 3 ? std::atol(argv[3]) : 2000;
    QTemporaryDir dir;
    const QByteArray root = Platform::pathFromText(dir.path());
    int folderFailures = 0;
    const FolderFailureReport folderFailed
        = [&folderFailures](const FolderAllList::FolderFailure&) { ++folderFailures; };
    int failures = 0;
    const FailureReport report = [&failures](const FileFailure& failure) {
        if (failures++ == 0)
            std::fprintf(stderr, "first failure: %s, mark %d\n", failure.path.constData(),
                static_cast<int>(failure.reason));
    };

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
    // The records lie on the same disk as the files, as a home folder does.
    const QByteArray recordFolder = root + Platform::Separator + "state";
    Bench::createDir(recordFolder);
    const Timings local
        = timeRenames(root, recordFolder, files, 3, noReplace, noReplace, folderFailed, report);

    Timings exfat;
#ifdef _WIN32
    std::fprintf(stderr, "no exFAT volume: volumes are mounted from image files on Linux only\n");
#else
    // exFAT through FUSE refuses the no-replace flag and hard links, so the pass checks and renames.
    MountedVolume volume(QStringLiteral("exfat"));
    // The careful way there: a look-up that finds the new name free, then the rename.
    const auto lookUpThenRename = [](const char* from, const char* to) {
        struct stat status = {};
        return ::lstat(to, &status) == 0 ? -1 : ::rename(from, to);
    };
    if (volume.isMounted())
        exfat = timeRenames(
            volume.root(), recordFolder, exfatFiles, 2, ::rename, lookUpThenRename, folderFailed, report);
    else
        std::fprintf(stderr, "no exFAT volume: %s\n", qPrintable(volume.whyNot()));
#endif

    QByteArray share;
#ifndef _WIN32
    // All in one folder, and as a library of photos kept by month: 40 folders.
    share = shareCase(shareFiles, 1, "share_", recordFolder, folderFailed, report)
        + shareCase(shareFiles, 40, "share_tree_", recordFolder, folderFailed, report);
#else
    Q_UNUSED(shareFiles)
#endif

    if (failures != 0 || folderFailures != 0) {
        std::fprintf(
            stderr, "%d renames failed, the search failed in %d folders\n", failures, folderFailures);
        return 1;
    }

    // The preview's rows lie in a real folder, where each row's new name is looked up.
    constexpr int previewRows = 500000;
    constexpr int previewRounds = 5;
    const QByteArray folder = root + Platform::Separator + "preview" + Platform::Separator;
    Bench::createDir(folder);
    // All rows with one extension, as a search for it finds them; then rows with two extensions,
    // whose new names must be compared with one another.
    RenameSession oneExtension;
    RenameSession twoExtensions;
    for (RenameSession* session : { &oneExtension, &twoExtensions }) {
        FileListModel* const list = &session->list();
        list->clear(folder);
        list->setSearchedIdentity(Platform::openFolder(folder).identity());
        for (int i = 0; i < previewRows; ++i)
            list->appendRow(folder, stem(i), session == &twoExtensions && i % 2 ? ".csv" : ".txt");
        list->publishPendingRows();
        list->checkAllRows();
    }
    QElapsedTimer sinceEvent;
    qint64 longestGapMs = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, &ticker,
        [&] { longestGapMs = std::max(longestGapMs, sinceEvent.restart()); });
    // The best of five, alternating between two new extensions, so that the best is a preview
    // whose names the system has looked up before, as the plain loop's have been.
    Runner runner;
    const auto timePreview = [&](RenameSession& session) {
        double seconds = 1e9;
        for (int round = 0; round < previewRounds; ++round) {
            ticker.start();
            sinceEvent.start();
            seconds = std::min(seconds, Bench::secondsOf([&] {
                session.ApplyNewNames(
                    round % 2 ? ".md" : ".tsv", PassKind::Preview, NameMode::NewExtension, runner, report);
            }));
            longestGapMs = std::max(longestGapMs, sinceEvent.elapsed());
            ticker.stop();
        }
        return seconds;
    };
    const double previewSeconds = timePreview(oneExtension);
    const double twoExtensionsSeconds = timePreview(twoExtensions);
    // The plain loop: one look-up of each row's new name in the folder.
    const double lookUpSeconds = Bench::bestOf(previewRounds, [&] {
#ifdef _WIN32
        for (int i = 0; i < previewRows; ++i) {
            const QByteArray path = folder + stem(i) + ".md";
            GetFileAttributesW(QString::fromUtf8(path).toStdWString().c_str());
        }
#else
        const int fd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < previewRows; ++i) {
            const QByteArray name = stem(i) + ".md";
            struct stat status = {};
            fstatat(fd, name.constData(), &status, AT_SYMLINK_NOFOLLOW);
        }
        ::close(fd);
#endif
    });

    std::printf(
        "files=%ld execute_s=%.3f loop_s=%.3f ratio=%.3f exfat_files=%ld exfat_execute_s=%.3f "
        "exfat_loop_s=%.3f exfat_ratio=%.3f preview_500k_s=%.4f lookup_500k_s=%.4f preview_ratio=%.3f "
        "preview_longest_gap_ms=%lld undo_s=%.3f loop_back_s=%.3f undo_ratio=%.3f "
        "exfat_undo_ratio=%.3f undo_bytes_per_file=%.1f preview_two_extensions_s=%.4f "
        "preview_two_extensions_ratio=%.3f record_bytes_per_file=%.1f exfat_floor_ratio=%.3f "
        "exfat_ratio_to_floor=%.3f%s\n",
        files, local.executeSeconds, local.loopSeconds, local.executeSeconds / local.loopSeconds, exfatFiles,
        exfat.executeSeconds, exfat.loopSeconds, exfat.executeSeconds / exfat.loopSeconds, previewSeconds,
        lookUpSeconds, previewSeconds / lookUpSeconds, static_cast<long long>(longestGapMs),
        local.undoSeconds, local.loopBackSeconds, local.undoSeconds / local.loopBackSeconds,
        exfat.undoSeconds / exfat.loopBackSeconds, local.undoBytesPerFile, twoExtensionsSeconds,
        twoExtensionsSeconds / lookUpSeconds, local.recordBytesPerFile,
        exfat.floorSeconds / exfat.loopSeconds, exfat.executeSeconds / exfat.floorSeconds, share.constData());
    return 0;
}
