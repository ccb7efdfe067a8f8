#include "link/frames.h"

namespace frames {

namespace {

constexpr char H = 'H';
constexpr char P = 'P';
constexpr char F = 'F';
constexpr char blank = ' ';

std::uint8_t at(const QByteArray &s, int i) { return static_cast<std::uint8_t>(s.at(i)); }

// Where the kind byte lies in a read of the given length, or -1. The three tests run
// in order: the whole frame, the "H" lost (a blank after the "F"), both header
// letters lost (two blanks after the "F"). last is the index of the final byte.
int kindIndex(const QByteArray &s, int last)
{
    if (s.at(0) == H && s.at(1) == P && s.at(last) == F)
        return 2;
    if (s.at(0) == P && s.at(last - 1) == F && s.at(last) == blank)
        return 1;
    if (s.at(last - 2) == F && s.at(last - 1) == blank && s.at(last) == blank)
        return 0;
    return -1;
}

} // namespace

QByteArray command(Command c)
{
    QByteArray bytes(6, 'a');
    bytes[0] = '\0';
    bytes[1] = static_cast<char>(c);
    return bytes;
}

Frame recognise(const QByteArray &bytes)
{
    Frame frame;
    const auto n = bytes.size();
    if (n != 12 && n != 9)
        return frame;
    const int k = kindIndex(bytes, int(n) - 1);
    if (k < 0)
        return frame;
    frame.kind = at(bytes, k);
    if (n == 12) {
        // The eight payload bytes follow the kind; in every one of the three layouts
        // they end at index k + 8 <= 10, inside the read.
        frame.hasPayload = true;
        for (int i = 0; i < 8; ++i)
            frame.p[i] = at(bytes, k + 1 + i);
    }
    return frame;
}

} // namespace frames
