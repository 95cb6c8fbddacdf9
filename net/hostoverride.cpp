#include "net/hostoverride.h"

#include <QByteArray>
#include <QtGlobal>

QString HostFromEnvironment(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? fallback : value;
}
