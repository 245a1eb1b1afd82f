#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The program's command line: `batch-renamer [FOLDER]`, or `--help` or `--version`.
namespace CommandLine {

struct Outcome
{
    // Set when the program answers and ends without opening its window: `message` goes to standard
    // output when the status is 0, to standard error otherwise.
    std::optional<int> exitStatus;
    QString message;
    // The folder to put in the path box; empty when none was given.
    QString folder;
};

// Reads `arguments`, the program's own name first. A relative folder is taken from `workingFolder`.
Outcome read(const QStringList& arguments, const QString& workingFolder);

// The folder that a path or a file:// URL names, absolute and without "." or ".." steps: the folder
// itself, or the folder that holds a file. A relative path is taken from `workingFolder`.
QString folderPath(const QString& pathOrUrl, const QString& workingFolder);

} // namespace CommandLine
