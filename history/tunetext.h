#pragma once
// A parameter set as a text a person reads: one configuration field a line
// ("eLimiteRpm = 6000"), each map as a table of 9 rows of 8 cells under its axes, the
// TPS limits last. A vehicle's history keeps it, so that a line-by-line comparison of
// two versions reads as the tune's changes. Parsing it gives back every text exactly.
#include "files/mapfile.h"

#include <QByteArray>
#include <stdexcept>

namespace tunetext {

// The text of a set, UTF-8, LF line ends.
QByteArray write(const Tune &tune);

// A text that is not one whole set, with the line that shows it.
class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The set a text written by write() holds; throws ParseError (in Portuguese, naming the
// line) for anything else.
Tune parse(const QByteArray &text);

} // namespace tunetext
