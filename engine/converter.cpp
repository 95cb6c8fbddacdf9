#include "engine/converter.h"

#include "engine/outputformat.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace Converter {

QStringList RequiredFiles()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("ffmpeg.exe"), QStringLiteral("pthreadGC2.dll")};
#else
    return {QStringLiteral("ffmpeg")};
#endif
}

QString ExecutableName()
{
    return RequiredFiles().constFirst();
}

QString ProgramFolder()
{
    return QCoreApplication::applicationDirPath();
}

bool IsPresent(const QString& folder)
{
#ifdef Q_OS_WIN
    // Any file-system object of each name will do, as the program has always checked.
    for (const QString& name : RequiredFiles()) {
        if (!QFileInfo::exists(folder + u'/' + name))
            return false;
    }
    return true;
#else
    const QFileInfo program(folder + u'/' + ExecutableName());
    return program.isFile() && program.isExecutable();
#endif
}

const char* PresetTemplate(int format)
{
    switch (OutputFormat(format)) {
    case OutputFormat::IPod:
        return "ffmpeg -i \"%s\" -y -s 320x240 -qscale 7 -r 24 -b 500 -ar 22050 -ab 64 -ac 2 \"%s\"";
    case OutputFormat::IPhone:
        return "ffmpeg -i \"%s\" -y -vcodec mpeg4 -qscale 7 -s 480x320 -r 29 -b 900 -ar 44100 -ab "
               "128 -ac 2 \"%s\"";
    case OutputFormat::Psp:
        return "ffmpeg -i \"%s\" -y -f psp -s 320x240 -qscale 7 -r 29 -b 500 -ar 24000 -ab 64 -ac "
               "2 \"%s\"";
    case OutputFormat::CellPhone:
        return "ffmpeg -i \"%s\" -y -vcodec h263 -qscale 7 -s 176x144 -r 15 -b 30k -ar 8000 -ab "
               "12.2k -ac 1 \"%s\"";
    case OutputFormat::WindowsMedia:
        return "ffmpeg -i \"%s\" -y -s 320x240 -qscale 7 -b 50 -ar 22050 -ab 64 -ac 2 \"%s\"";
    case OutputFormat::Mp3:
        return "ffmpeg -i \"%s\" -y -ar 48000 -ab 192 -ac 2 \"%s\"";
    case OutputFormat::Xvid:
    default:
        return "ffmpeg -i \"%s\" -y -vcodec xvid -qscale 7 -s 320x240 -b 200 -ar 22050 -ab 64 -ac 2 "
               "\"%s\"";
    }
}

} // namespace Converter

namespace Converter {

QStringList PresetArguments(int format, const QString& input, const QString& output)
{
    QStringList arguments = QString::fromLatin1(PresetTemplate(format)).split(u' ');
    arguments.removeFirst(); // the program's name
    const QString* paths[] = {&input, &output};
    int next = 0;
    for (QString& argument : arguments) {
        if (argument == QLatin1String("\"%s\"") && next < 2)
            argument = *paths[next++];
    }
    return arguments;
}

} // namespace Converter
