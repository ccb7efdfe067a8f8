#pragma once
// Every field of a parameter set, once: the control that shows it, what a tuner calls
// it, whether it is typed or chosen, its choices with the codes the module keeps, its
// unit and limits, where the parameter image carries it and how, and how the
// read-back gives it back. The map file, the upload's image, the read-back, the field
// checks and the comparison of two sets all read this table.
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tunefields {

// How a field's text becomes its byte in the parameter image.
enum class Encoding {
    None,          // not in the image (kept in the map file only)
    Integer,       // text as an integer
    IntegerDiv10,  // text as an integer, divided by 10 (truncated)
    IntegerDiv100, // text as an integer, divided by 100 (truncated)
    Tenths,        // text times 10, a whole number
    CurvePoint,    // a typed point of a correction curve; the points between are interpolated
    Code,          // the code of the chosen text, taken when the upload starts
    WheelCode,     // the code of the selected wheel, taken when the upload starts
    ItemIndex,     // the selected entry's position, taken when the upload starts (none: 255)
    FanIncrement,  // text times 10, taken when the upload starts
    ToothOffset,   // position of the TDC tooth in its list
    ChargeTime,    // thousandths / 25; outside 80 to 240 it becomes 120
    ZeroPoint,     // selected entry minus 3
    TpsLimit,      // the calibration's reading, which no control shows
};

// The range a value must lie in before it is cut to 8 bits.
enum class Range {
    None,     // copied by design (codes, TPS minimum) or always fits
    Byte,     // -128 to 255: signed or unsigned, whichever the ECU makes of it
    Unsigned, // 0 to 255
    Curve,    // -128 to 127: a curve point is a signed byte
    TpsMax,   // what the read-back takes back beside the TPS minimum (tpslimits)
};

// How the read-back's byte becomes the field's text.
enum class Decode {
    None,        // the read-back does not carry it
    Whole,       // the byte, "0"
    SignedWhole, // the byte read as signed, "0"
    Tenths,      // the byte / 10, "0,0"
    Plain,       // the byte as an integer
    Times10,     // the byte x 10 as an integer
    Times100,    // the byte x 100 as an integer
    Fan,         // the byte / 10, "0,0" (no zero section)
    Percent,     // the byte, "0" (an empty text for 0)
    Choice,      // the text whose code is the byte; another byte leaves the text alone
    Wheel,       // the wheel whose code is the byte, then its tooth list
    ToothIndex,  // the entry at the byte in the wheel's tooth list
    ItemIndex,   // the entry at the byte
    ChargeTime,  // the byte x 25 / 1000, "#0,0"
    ZeroPoint,   // the entry at the signed byte + 3
    TpsMin,      // the byte
    TpsMax,      // the byte, or the minimum when the read-back does not take it
};

enum class Kind { Text, Choice };

struct Choice {
    QString text;
    int code = 0;
};

// Where a field sits in the image: block 1..32, byte 0..7 (0 when not in the image).
// A curve point's curve (0 injection time, 1 advance, 2 idle actuator, 3 atmospheric)
// and its point within the curve.
struct Placement {
    int block = 0, byte = 0;
    Encoding encoding = Encoding::None;
    Range range = Range::None;
    int curve = -1, point = -1;
};

// Where the read-back gives it: frame kind 1..26, payload byte 0..7 (0: nowhere).
struct ReadBack {
    int kind = 0, byte = 0;
    Decode decode = Decode::None;
};

// The highest value the page accepts when the field is left, with its message and the
// text the field is given instead.
struct UpperLimit {
    long double limit = 0;
    QString message;
    QString limitText;
};

struct Field {
    QString name;    // the control ("e12i", "eLimiteRpm"; "tpsMin", "tpsMax")
    QString caption; // "Limite de RPM", "injeção linha 2 coluna 5"
    Kind kind = Kind::Text;
    QString unit;
    int decimals = 0; // what the image keeps of a typed text: 1 tenths, 3 thousandths
    QList<Choice> choices;
    bool fixedChoices = false; // the text must be one of the choices (a fixed combo box)
    std::optional<UpperLimit> upper;
    Placement image;
    ReadBack readBack;
};

// The 202 fields in the map file's order: 200 controls, then the TPS minimum and maximum.
const std::vector<Field> &all();
// By control name; nullptr for a name that is no field.
const Field *find(const QString &name);
// Position in all(); -1 for a name that is no field.
int indexOf(const QString &name);

// The code of a choice's text, or nothing for a text that is no choice.
std::optional<int> codeOf(const Field &field, const QString &text);
// The text of a code, or nothing for a code that names no choice.
std::optional<QString> textOf(const Field &field, int code);
// The texts of the choices, in their order.
QStringList choiceTexts(const Field &field);

// The tooth list of a wheel (its position in the wheel's choices; -1: none selected),
// and its first tooth.
QStringList toothList(int wheel);
int firstTooth(int wheel);

// The text a byte of the read-back gives for the decodes that depend on the byte alone
// (not Choice, Wheel, ToothIndex, ItemIndex, ZeroPoint, TpsMin, TpsMax).
QString decodedText(Decode decode, std::uint8_t byte);

// The fields that frame kind carries, in payload order.
std::vector<const Field *> readBackFields(int kind);
// The fields the image takes from block n (curve points aside), in byte order.
std::vector<const Field *> imageFields(int block);

} // namespace tunefields
