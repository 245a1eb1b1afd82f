// The command line as the user wrote it, and answers written where it reads them.
#include "internal.h"

// After windows.h, which it builds on.
#include <shellapi.h>

namespace Platform {

QStringList commandLineArguments(int, char*[])
{
    QStringList arguments;
    int count = 0;
    if (wchar_t** units = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments.append(QString::fromWCharArray(units[i]));
        LocalFree(units);
    }
    return arguments;
}

namespace {

// The console of the command line that started the program. A window program has none of its own,
// and its standard handles are not valid unless the starting program handed them over; Windows
// documents AttachConsole for this case, failing where the parent has no console (Explorer, a
// shortcut), and CONOUT$ as the attached console's screen buffer. Opened once: stays for the run.
HANDLE parentConsole()
{
    static const HANDLE console = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, OPEN_EXISTING, 0, nullptr);
    }();
    return console;
}

} // namespace

void printText(OutputStream stream, const QString& text)
{
    HANDLE output = GetStdHandle(stream == OutputStream::Standard ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    // A handle handed over (a pipe, a file, NUL, a console) serves as it is; GetFileType answers
    // FILE_TYPE_UNKNOWN for one that is no valid handle of this process. Without one, the text goes
    // to the console of the parent.
    const bool handedOver
        = output != nullptr && output != INVALID_HANDLE_VALUE && GetFileType(output) != FILE_TYPE_UNKNOWN;
    if (!handedOver) {
        output = parentConsole();
        if (output == INVALID_HANDLE_VALUE)
            return; // started from Explorer or a shortcut: nobody reads it
    }
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    WriteFile(output, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace Platform
