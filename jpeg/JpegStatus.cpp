#include "jpeg/JpegStatus.h"

namespace {

struct StatusEntry {
    JpegStatus status;
    JpegStatusKind kind;
    const char* text;
};

constexpr StatusEntry kStatusCatalogue[] = {
    { JpegStatus::Ok, JpegStatusKind::Ok, "" },
    { JpegStatus::CannotReadFile, JpegStatusKind::File, "The JPEG file cannot be read" },
    { JpegStatus::CannotWriteFile, JpegStatusKind::File, "The JPEG file cannot be written" },
    { JpegStatus::NoStartOfImage, JpegStatusKind::Format, "The file has no JPEG start-of-image marker." },
    { JpegStatus::MissingMarker, JpegStatusKind::Format, "The JPEG headers hold bytes that are not a marker segment." },
    { JpegStatus::SegmentTooShort, JpegStatusKind::Format, "A JPEG marker segment is shorter than its contents." },
    { JpegStatus::SegmentPastEnd, JpegStatusKind::Format, "A JPEG marker segment runs past the end of the file." },
    { JpegStatus::BadHuffmanTableClass, JpegStatusKind::Format, "A Huffman table has an invalid class or identifier." },
    { JpegStatus::BadHuffmanTable, JpegStatusKind::Format,
        "A Huffman table defines more codes than its code lengths allow." },
    { JpegStatus::BadQuantizationTable, JpegStatusKind::Format,
        "A quantization table has an invalid precision or identifier." },
    { JpegStatus::BadRestartInterval, JpegStatusKind::Format, "The restart interval segment has the wrong length." },
    { JpegStatus::BadFrameHeader, JpegStatusKind::Format, "The JPEG frame header is malformed." },
    { JpegStatus::BadSamplePrecision, JpegStatusKind::Format, "A baseline JPEG frame must have 8-bit samples." },
    { JpegStatus::EmptyFrame, JpegStatusKind::Format, "The JPEG frame has no width or no components." },
    { JpegStatus::BadSamplingFactor, JpegStatusKind::Format, "A sampling factor is 0 or greater than 4." },
    { JpegStatus::DuplicateFrame, JpegStatusKind::Format, "The file has more than one JPEG frame header." },
    { JpegStatus::ScanBeforeFrame, JpegStatusKind::Format, "The JPEG scan comes before the frame header." },
    { JpegStatus::BadScanHeader, JpegStatusKind::Format, "The JPEG scan header is malformed." },
    { JpegStatus::ScanComponentMismatch, JpegStatusKind::Format,
        "The components of the JPEG scan do not match those of the frame." },
    { JpegStatus::MissingQuantizationTable, JpegStatusKind::Format,
        "A component uses a quantization table that the file does not define." },
    { JpegStatus::MissingHuffmanTable, JpegStatusKind::Format,
        "The JPEG scan uses a Huffman table that the file does not define." },
    { JpegStatus::NoScan, JpegStatusKind::Format,
        "No baseline JPEG frame and scan were found within 51 rounds of header segments." },
    { JpegStatus::EntropyDataTruncated, JpegStatusKind::Format, "The compressed picture data ends too early." },
    { JpegStatus::EntropyDataInterrupted, JpegStatusKind::Format, "A marker interrupts the compressed picture data." },
    { JpegStatus::BadHuffmanCode, JpegStatusKind::Format,
        "The compressed picture data holds a code that is not in its Huffman table." },
    { JpegStatus::BadCoefficientRun, JpegStatusKind::Format,
        "The compressed picture data runs past the last coefficient of a block." },
    { JpegStatus::BadDifferenceCategory, JpegStatusKind::Format,
        "The compressed picture data holds a DC difference that is too large." },
    { JpegStatus::ExtendedSequential, JpegStatusKind::Unsupported, "Extended sequential JPEG is not supported." },
    { JpegStatus::Progressive, JpegStatusKind::Unsupported, "Progressive JPEG is not supported." },
    { JpegStatus::Lossless, JpegStatusKind::Unsupported, "Lossless JPEG is not supported." },
    { JpegStatus::Hierarchical, JpegStatusKind::Unsupported, "Hierarchical JPEG is not supported." },
    { JpegStatus::ArithmeticCoding, JpegStatusKind::Unsupported, "Arithmetic-coded JPEG is not supported." },
    { JpegStatus::SeveralScans, JpegStatusKind::Unsupported, "JPEG files with several scans are not supported." },
    { JpegStatus::HeightFromDnl, JpegStatusKind::Unsupported,
        "JPEG files whose height is given after the scan (DNL) are not supported." },
    { JpegStatus::TwoComponents, JpegStatusKind::Unsupported, "Two-component JPEG is not supported." },
    { JpegStatus::TooManyComponents, JpegStatusKind::Unsupported,
        "JPEG files with more than 3 components (such as CMYK) are not supported." },
    { JpegStatus::RgbColourSpace, JpegStatusKind::Unsupported,
        "JPEG pictures whose colours are stored as RGB rather than YCbCr are not supported." },
    { JpegStatus::SixteenBitQuantization, JpegStatusKind::Unsupported,
        "16-bit quantization tables are not supported." },
    { JpegStatus::UnevenSampling, JpegStatusKind::Unsupported,
        "Sampling factors that do not divide the largest factor are not supported." },
    { JpegStatus::PictureTooLarge, JpegStatusKind::Unsupported, "The picture is too large to be decoded." },
    { JpegStatus::OutOfMemory, JpegStatusKind::Unsupported, "There is not enough memory for this picture." },
    { JpegStatus::BadEncodeSize, JpegStatusKind::Argument, "A JPEG picture must be 1 to 65535 pixels wide and high." },
    { JpegStatus::TurboReadFailed, JpegStatusKind::Format, "The JPEG file cannot be decoded" },
    { JpegStatus::TurboWriteFailed, JpegStatusKind::Argument, "The JPEG file cannot be encoded" },
    { JpegStatus::NothingToWrite, JpegStatusKind::Argument, "No JPEG file has been read." },
    { JpegStatus::DecodingStopped, JpegStatusKind::Argument, "The decoding was stopped before the end." },
};

const StatusEntry& FindEntry(JpegStatus status)
{
    for (const StatusEntry& entry : kStatusCatalogue) {
        if (entry.status == status)
            return entry;
    }
    return kStatusCatalogue[0];
}

} // namespace

JpegStatusKind KindOfJpegStatus(JpegStatus status) { return FindEntry(status).kind; }

const char* DescribeJpegStatus(JpegStatus status) { return FindEntry(status).text; }

std::string JpegResult::Reason() const
{
    std::string reason = DescribeJpegStatus(status);
    if (!detail.empty())
        reason += ": " + detail + ".";
    return reason;
}
