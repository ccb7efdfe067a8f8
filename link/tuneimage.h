#pragma once
// The 256 bytes an upload of a parameter set sends, worked out from the set alone:
// the same conversions as the upload (Prepare, the check of every block, each block),
// on a screen of its own holding the set's texts, with no controller and no line.
#include "files/mapfile.h"

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>

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

// The payloads of a read-back's frames by kind (1..26, index 0 unused); a kind that
// did not come has no payload.
using ReadBackPayloads = std::array<std::optional<std::array<std::uint8_t, 8>>, 27>;

// The parameter set a read-back gives the screen that held before: each field from its
// byte as the field table decodes it. A field whose frame did not come, or whose code
// names no choice, keeps its text; so does a selection whose entry is out of its list.
Tune readBackTune(const ReadBackPayloads &payloads, const Tune &before);
// The read-back frames a module holding this image sends, by the field table: the
// inverse of the image's placement, for tests and the simulator's model to agree on.
ReadBackPayloads readBackPayloads(const UploadImage &image);
