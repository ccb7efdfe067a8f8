#pragma once
// System error numbers in the user's language. Every message of Velto's own that
// carries a system error takes its text from here; the map file's and the serial
// port's own error texts keep their fixed wording.
#include <QString>

namespace systemerror {

// "disco cheio" for ENOSPC, "permissão negada" for EACCES, ...; an error without a
// text of its own gives "erro do sistema número N".
QString text(int err);

} // namespace systemerror
