#pragma once
// velto-cli cells: a channel's table per map cell of a log.
#include <QStringList>

namespace cli {

int cells(const QStringList &arguments);

} // namespace cli
