#pragma once
// The ECU parameter image: 256 bytes in 32 blocks of 8, built from the screen at every
// upload. Prepare converts the working values and the four correction curves; Block n
// converts the map cells and the fields read at send time at the moment it is asked.
#include "common/context.h"
#include "common/tunefields.h"

#include <QString>
#include <array>
#include <cstdint>
#include <stdexcept>

// A value that does not fit its byte. what() is the exact message shown to the user.
class ImageRangeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ParameterImage {
public:
    explicit ParameterImage(Context &ctx);

    // Working values and curves, in their fixed order. Stops at the first text that
    // does not convert (numtext::ConvertError); values converted before it keep their
    // new contents.
    void prepare();
    // Bytes 0..7 of block n (1..32). Throws the conversion error of a failing field,
    // or ImageRangeError when a value does not fit its byte (the block is not sent).
    std::array<std::uint8_t, 8> block(int n) const;
    // Checks that the boxes whose selected entry the image reads have one selected,
    // then converts all 32 blocks once and checks that every value fits its byte;
    // throws the first error. Nothing is written by it.
    void checkAll() const;
    // The boxes whose selected entry block n (1..32) takes from the screen itself have
    // one selected (n = 0: every box the image takes an entry from); throws the refusal
    // naming the box and the block otherwise. An upload checks it for every frame.
    void checkSelections(int n) const;

    using Encoding = tunefields::Encoding; // how a field becomes a byte
    using Range = tunefields::Range;       // what a value must fit before it is cut to 8 bits

private:
    // One byte of the image with where it came from, for the range check.
    struct Byte {
        long long value = 0;      // the converted value before it is cut to 8 bits
        bool checked = false;     // false: copied by design (TPS minimum) or always fits
        QString field, text;      // control and the text the value came from
        long long lo = 0, hi = 0; // allowed range of value
        QString textLo, textHi;   // the same range in the field's own unit
    };
    using Bytes = std::array<Byte, 8>;
    // A typed point of a correction curve as Prepare converted it (the curve itself
    // keeps only its low 8 bits).
    struct Typed {
        QString field, text;
        int value = 0;
    };

    // The bytes of block n, read row by row from the layout tables.
    Bytes encode(int n) const;
    // A control's conversion error names the field and what was written in it.
    Byte convert(const tunefields::Field &field) const;
    Byte convertText(const tunefields::Field &field) const;
    Byte curvePoint(const QString &curve, int p) const;
    const std::array<std::int8_t, 22> *temperatureCurve(int c) const;
    static QString notSentTail(int n); // "O bloco n não foi enviado." (n = 0: nothing was)
    // The first byte of the block whose value does not fit, or nullptr.
    static const Byte *outOfRange(const Bytes &bytes);
    static QString rangeMessage(const Byte &b, const QString &tail);

    Context &ctx_;
    std::array<std::array<Typed, 8>, 3> typedCurves_{}; // injection time, advance, idle actuator
    std::array<Typed, 4> typedAtm_{};
    QString fanText_;    // emSCorrecaoEletro as Prepare converted it
    QString toothText_;  // cbDentesPms as Prepare converted it
    int firstTooth_ = 0; // first tooth of the wheel Prepare converted it for
};
