#pragma once

#include <string>

// Why a decode or encode failed. One catalogue for the whole codec: each
// status has one sentence and one kind, so the picture, the desktop program
// and the command-line tool all say the same thing.
enum class JpegStatus {
    Ok,

    // The file itself.
    CannotReadFile,
    CannotWriteFile,

    // Malformed data (the file breaks ITU-T T.81).
    NoStartOfImage,
    MissingMarker,
    SegmentTooShort,
    SegmentPastEnd,
    BadHuffmanTableClass,
    BadHuffmanTable,
    BadQuantizationTable,
    BadRestartInterval,
    BadFrameHeader,
    BadSamplePrecision,
    EmptyFrame,
    BadSamplingFactor,
    DuplicateFrame,
    ScanBeforeFrame,
    BadScanHeader,
    ScanComponentMismatch,
    MissingQuantizationTable,
    MissingHuffmanTable,
    NoScan,
    EntropyDataTruncated,
    EntropyDataInterrupted,
    BadHuffmanCode,
    BadCoefficientRun,
    BadDifferenceCategory,

    // Valid JPEG that this codec does not handle.
    ExtendedSequential,
    Progressive,
    Lossless,
    Hierarchical,
    ArithmeticCoding,
    SeveralScans,
    HeightFromDnl,
    TwoComponents,
    TooManyComponents,
    RgbColourSpace,
    SixteenBitQuantization,
    UnevenSampling,
    PictureTooLarge,
    OutOfMemory,

    // Encoder input.
    BadEncodeSize,

    // libjpeg-turbo, for the files this codec does not read itself; the
    // result's detail holds libjpeg's own message.
    TurboReadFailed,
    TurboWriteFailed,
    NothingToWrite,

    // A decoder whose pixels nobody takes any more (the encoder it fed
    // failed).
    DecodingStopped,
};

enum class JpegStatusKind {
    Ok,
    File, // the file could not be read or written
    Format, // malformed data
    Unsupported, // valid, but outside the baseline subset handled here
    Argument, // the caller asked for something impossible
};

JpegStatusKind KindOfJpegStatus(JpegStatus status);
// The sentence for a status; empty for Ok.
const char* DescribeJpegStatus(JpegStatus status);

// The outcome of a codec operation: a status and, for file errors, the
// system's text for the cause.
struct [[nodiscard]] JpegResult {
    JpegStatus status = JpegStatus::Ok;
    std::string detail;

    bool IsOk() const { return status == JpegStatus::Ok; }
    JpegStatusKind Kind() const { return KindOfJpegStatus(status); }
    // One line for the user: the sentence, then the detail if there is one.
    std::string Reason() const;
};
