#pragma once
// The ECU parameter image: 256 bytes in 32 blocks of 8, built from the screen at every
// upload. Prepare converts the working values and the four correction curves; Block n
// converts the map cells and the fields read at send time at the moment it is asked.
#include "common/context.h"

#include <array>
#include <cstdint>

class ParameterImage {
public:
    explicit ParameterImage(Context &ctx);

    // Working values and curves, in their fixed order. Stops at the first text that
    // does not convert (numtext::ConvertError); values converted before it keep their
    // new contents.
    void prepare();
    // Bytes 0..7 of block n (1..32). Throws the conversion error of a failing field.
    std::array<std::uint8_t, 8> block(int n) const;
    // Converts all 32 blocks once and checks that every value fits its byte; throws
    // the first conversion error or range error. Nothing is written by it.
    void checkAll() const;

private:
    Context &ctx_;
};
