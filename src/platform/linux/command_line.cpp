// The command line as the user wrote it, and answers written where it reads them.
#include "platform/platform.h"

#include <QFile>

#include <cstdio>

namespace Platform {

QStringList commandLineArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    return arguments;
}

void printText(OutputStream stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream == OutputStream::Standard ? stdout : stderr);
}

} // namespace Platform
