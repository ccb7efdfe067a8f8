#pragma once
// What velto-cli ends with, and the failure that ends a command early.
#include <QString>

namespace cli {

enum ExitCode {
    Done = 0,
    DifferencesFound = 1, // diff
    Usage = 2,
    PortOrModule = 3,     // cannot open, module silent, port lost
    FileOrConversion = 4, // cannot read or write, bad map file, a field that does not convert
    VerifyDiffers = 5,    // write --verify
};

// Ends the command: main() prints the message (if any) on stderr and exits with code.
struct Failure {
    int code;
    QString message;
};

// The exit code table, as --help and the README show it.
QString exitCodeTable();

} // namespace cli
