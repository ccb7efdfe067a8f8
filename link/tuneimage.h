#pragma once
// The 256 bytes an upload of a parameter set sends, worked out from the set alone:
// the same conversions as the upload (Prepare, the check of every block, each block),
// on a screen of its own holding the set's texts, with no controller and no line.
#include "files/mapfile.h"

#include <QByteArray>
#include <array>
#include <cstdint>

class ParameterImage;

// The 32 blocks of 8 bytes of the parameter image, block 1 first.
using UploadImage = std::array<std::array<std::uint8_t, 8>, 32>;

// The image an upload of the screen sends: Prepare, the check of every block that the
// upload makes before its first frame, then each block as its tick converts it. Throws
// what the upload's start would show (a field that does not convert, a value that does
// not fit its byte).
UploadImage uploadImage(ParameterImage &image);
QByteArray imageBytes(const UploadImage &image);

// What an upload of tune sends, as if it had been loaded on the start-up screen; throws
// as uploadImage does.
UploadImage tuneImage(const Tune &tune);
// The parameter set of the start-up screen, as the window shows it when it opens.
Tune startupTune();
