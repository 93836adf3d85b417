#pragma once

#include <cstdint>
#include <string>

// Why a bitmap was turned away, for loading or for hiding. One catalogue for
// the bitmap model: each status has one sentence and one kind, so the picture,
// the desktop program and the command-line tool all say the same thing.
enum class BmpStatus {
    Ok,

    // The file itself.
    CannotReadFile,

    // Malformed data.
    NotBitmap, // the first two bytes are not "BM"
    TooShort, // shorter than the file header and a 40-byte info header
    NegativeWidth,
    HeadersPastEnd, // info header and colour table leave no pixel data
    ImageSizeOverflow, // the computed image size does not fit its 32-bit field
    PixelDataCutShort, // the file ends inside the pixel rows

    // Valid bitmaps that this model does not read.
    TooLarge, // longer than a 32-bit file length allows
    UnsupportedHeader, // info header shorter than 40 bytes (OS/2 core header and the like)
    UnsupportedDepth, // a bit depth that no bitmap pixel format uses here

    // Bitmaps that load and reveal, but whose stored bytes are no plain pixels,
    // so hiding would corrupt them.
    RunLengthEncoded,
    EmbeddedJpeg,
    EmbeddedPng,
    OtherCompression,
};

enum class BmpStatusKind {
    Ok,
    File, // the file could not be read
    Format, // malformed data
    Unsupported, // valid, but not handled here (for loading or for hiding)
};

BmpStatusKind KindOfBmpStatus(BmpStatus status);
// The sentence for a status; empty for Ok. Sentences of statuses that carry a
// number hold one "%u" for it.
const char* DescribeBmpStatus(BmpStatus status);

// The outcome of a bitmap operation: a status, the number its sentence names
// (a bit depth, a header length) and, for file errors, the system's text for
// the cause.
struct [[nodiscard]] BmpResult {
    BmpStatus status = BmpStatus::Ok;
    std::uint32_t number = 0;
    std::string detail;

    bool IsOk() const { return status == BmpStatus::Ok; }
    BmpStatusKind Kind() const { return KindOfBmpStatus(status); }
    // One line for the user: the sentence, then the detail if there is one.
    std::string Reason() const;
};
