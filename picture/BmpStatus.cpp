#include "picture/BmpStatus.h"

#include "res/StringIds.h"
#include "res/StringTable.h"

#include <cstring>

namespace {

struct StatusEntry {
    BmpStatus status;
    BmpStatusKind kind;
    const char* text;
};

constexpr StatusEntry kStatusCatalogue[] = {
    { BmpStatus::Ok, BmpStatusKind::Ok, "" },
    { BmpStatus::CannotReadFile, BmpStatusKind::File, "The file cannot be read" },
    { BmpStatus::NotBitmap, BmpStatusKind::Format, "This is not a BMP file" },
    { BmpStatus::TooShort, BmpStatusKind::Format, "The file is too short to hold the bitmap headers" },
    { BmpStatus::NegativeWidth, BmpStatusKind::Format, "The bitmap width is negative" },
    { BmpStatus::HeadersPastEnd, BmpStatusKind::Format, "The bitmap headers claim more bytes than the file holds" },
    { BmpStatus::ImageSizeOverflow, BmpStatusKind::Format, "The bitmap's image size does not fit its header field" },
    { BmpStatus::PixelDataCutShort, BmpStatusKind::Format, "The bitmap's pixel data is cut short" },
    { BmpStatus::TooLarge, BmpStatusKind::Unsupported, "The file is too large to be a BMP file" },
    { BmpStatus::UnsupportedHeader, BmpStatusKind::Unsupported, "Bitmap info headers of %u bytes are not supported" },
    { BmpStatus::UnsupportedDepth, BmpStatusKind::Unsupported, "Bit depth %u is not supported" },
    { BmpStatus::RunLengthEncoded, BmpStatusKind::Unsupported,
        "Hiding data in a run-length encoded bitmap is not supported: it would corrupt the run codes" },
    { BmpStatus::EmbeddedJpeg, BmpStatusKind::Unsupported,
        "Hiding data in a bitmap that holds JPEG data is not supported: it would corrupt that data" },
    { BmpStatus::EmbeddedPng, BmpStatusKind::Unsupported,
        "Hiding data in a bitmap that holds PNG data is not supported: it would corrupt that data" },
    { BmpStatus::OtherCompression, BmpStatusKind::Unsupported,
        "Hiding data is supported only in uncompressed bitmaps (compression %u is not)" },
};

const StatusEntry& FindEntry(BmpStatus status)
{
    for (const StatusEntry& entry : kStatusCatalogue) {
        if (entry.status == status)
            return entry;
    }
    return kStatusCatalogue[0];
}

} // namespace

BmpStatusKind KindOfBmpStatus(BmpStatus status) { return FindEntry(status).kind; }

const char* DescribeBmpStatus(BmpStatus status) { return FindEntry(status).text; }

std::string BmpResult::Reason() const
{
    const char* text = DescribeBmpStatus(status);
    // The one sentence the string table also holds is taken from there, so
    // the message box of a load shows the table's text.
    std::string reason = status == BmpStatus::NotBitmap ? LoadResString(IDS_NOT_BMP_FILE)
        : std::strstr(text, "%u") != nullptr            ? FormatText(text, unsigned(number))
                                                        : std::string(text);
    if (!detail.empty())
        reason += ": " + detail;
    return reason;
}
