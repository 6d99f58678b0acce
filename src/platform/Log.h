#pragma once

#include <QString>

// Plain log lines, the way the program has always written them: no level, tag
// or timestamp of our own. Any thread may call it.
namespace platform
{
void log(const QString &line);
}
