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

void printText(OutputStream stream, const QString& text)
{
    const HANDLE output
        = GetStdHandle(stream == OutputStream::Standard ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return; // started from the desktop: nobody reads it
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    WriteFile(output, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace Platform
