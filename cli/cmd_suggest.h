#pragma once
// velto-cli suggest: the injection map corrected from the lambda corrections of logs.
#include <QStringList>

namespace cli {
int suggest(const QStringList &arguments);
}
