#include "app_identity.h"
#include "command_line/command_line.h"
#include "dialog/qt_folder_chooser.h"
#include "dialog/qt_message_boxes.h"
#include "platform/platform.h"
#include "platform/record_file.h"
#include "window/form1.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    // The command line is read before Qt connects to a window system, so every answer, refusals
    // included, needs no display. Qt is handed the program's name alone: it takes none of its own
    // options (its environment variables serve instead), so no argument is read twice.
    const CommandLine::Outcome outcome
        = CommandLine::read(Platform::commandLineArguments(argc, argv), QDir::currentPath());
    if (outcome.exitStatus) {
        Platform::printText(
            *outcome.exitStatus == 0 ? Platform::OutputStream::Standard : Platform::OutputStream::Error,
            outcome.message);
        return *outcome.exitStatus;
    }

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(AppIdentity::programName());
    QApplication::setDesktopFileName(u"org.example.BatchRenamer"_s);
    QApplication::setWindowIcon(QIcon(u":/icons/org.example.BatchRenamer.png"_s));

    QtMessageBoxes messages;
    QtFolderChooser folderChooser;
    // A folder that cannot be made is told of at the first execute, which then runs unrecorded.
    Form1 window(messages, folderChooser, Platform::stateFolder());
    messages.setOwner(&window);
    if (!outcome.folder.isEmpty())
        window.setPath(outcome.folder);
    window.takeRecordsLeft();
    window.show();
    return QApplication::exec();
}
