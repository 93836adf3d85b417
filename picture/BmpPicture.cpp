#include "picture/BmpPicture.h"

#include "picture/ReportPage.h"
#include "picture/SecretContainer.h"
#include "res/Log.h"
#include "res/StringIds.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::uint32_t kCompressionRle4 = 2;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::uint32_t kCompressionJpeg = 4;
constexpr std::uint32_t kCompressionPng = 5;

} // namespace

CBmpPicture::~CBmpPicture()
{
    // Same order as a release of the picture: image, container, page texts.
    m_pDib.reset();
    m_container.Reset();
    m_strReportPage.clear();
    m_strResultPage.clear();
}

int CBmpPicture::Fail(int code, std::string reason)
{
    m_strFailure = std::move(reason);
    return code;
}

int CBmpPicture::Load(const std::string& path)
{
    if (IsLoaded())
        return Fail(kPictureAlreadyLoaded, "A picture is already loaded");
    auto dib = std::make_unique<CDibImage>();
    if (const BmpResult result = dib->Load(path); !result.IsOk())
        return Fail(
            result.Kind() == BmpStatusKind::File ? kPictureCannotCreate : kPictureNotSupported, result.Reason());
    return FinishLoad(std::move(dib), path);
}

int CBmpPicture::LoadFromBytes(const std::vector<std::uint8_t>& file, const std::string& path)
{
    if (IsLoaded())
        return Fail(kPictureAlreadyLoaded, "A picture is already loaded");
    auto dib = std::make_unique<CDibImage>();
    if (const BmpResult result = dib->LoadFromBytes(file); !result.IsOk())
        return Fail(kPictureNotSupported, result.Reason());
    return FinishLoad(std::move(dib), path);
}

int CBmpPicture::LoadForReading(const std::string& path) { return LoadInPieces(path, false); }

int CBmpPicture::LoadForHiding(const std::string& path) { return LoadInPieces(path, true); }

int CBmpPicture::LoadInPieces(const std::string& path, bool keepFile)
{
    if (IsLoaded())
        return Fail(kPictureAlreadyLoaded, "A picture is already loaded");
    auto dib = std::make_unique<CDibImage>();
    bool prepared = true;
    const auto visit = [&](std::span<const std::uint8_t> pixels, std::size_t offset) {
        if (offset == 0)
            prepared = PrepareContainer(*dib);
        const std::size_t group = PixelBytesPerContainerByte(m_mode);
        if (!prepared || group == 0 || offset / group >= m_capacity)
            return;
        // Pieces start on whole groups; the last one may end inside one.
        const std::size_t first = offset / group;
        const std::size_t count = std::min(pixels.size() / group, m_capacity - first);
        ExtractContainer(m_mode, pixels.first(count * group), { m_container.data() + first, count });
    };
    const BmpResult result = keepFile ? dib->LoadHeadersKeepingFile(path, visit) : dib->LoadHeaders(path, visit);
    if (!result.IsOk() || !prepared) {
        // Nothing of a failed load stays.
        m_container.Reset();
        m_capacity = 0;
        m_mode = BmpHidingMode::None;
        m_bCompressed = 0;
        if (!prepared)
            return Fail(kPictureNotSupported, "There is not enough memory for this picture.");
        return Fail(
            result.Kind() == BmpStatusKind::File ? kPictureCannotCreate : kPictureNotSupported, result.Reason());
    }
    WriteLog(IDS_LOG_READ_BMP_SECRET);
    FinishContainer(std::move(dib), path);
    return kPictureOk;
}

bool CBmpPicture::PrepareContainer(const CDibImage& dib)
{
    const std::uint32_t compression = dib.GetCompression();
    m_bCompressed = compression == kCompressionRle8 || compression == kCompressionRle4 ? 1 : 0;
    m_mode = HidingModeForBitCount(dib.GetBitsPerPixel());
    m_capacity = CarrierCapacity(m_mode, dib.GetPixelDataLength());

    // Every carried byte is extracted; only the bytes past them are cleared.
    const std::size_t containerLength = std::max(m_capacity, kContainerOverhead);
    if (!m_container.Allocate(containerLength))
        return false;
    std::memset(m_container.data() + m_capacity, 0, containerLength - m_capacity);
    return true;
}

int CBmpPicture::FinishLoad(std::unique_ptr<CDibImage> dib, const std::string& path)
{
    if (!PrepareContainer(*dib))
        return Fail(kPictureNotSupported, "There is not enough memory for this picture.");
    WriteLog(IDS_LOG_READ_BMP_SECRET);
    ExtractContainer(m_mode, { dib->GetPixelData(), dib->GetPixelDataLength() }, { m_container.data(), m_capacity });
    FinishContainer(std::move(dib), path);
    return kPictureOk;
}

void CBmpPicture::FinishContainer(std::unique_ptr<CDibImage> dib, const std::string& path)
{
    m_pDib = std::move(dib);

    m_bHasSecret = StartsWithContainerMagic(m_container.data(), m_capacity) ? 1 : 0;
    // The data space follows from the stored bytes whatever the compression,
    // so a compressed bitmap that another writer hid a message in reveals it.
    // Hiding into such a bitmap is refused (GetHidingStatus).
    m_dataSpace = DataSpaceForCapacity(std::uint32_t(m_capacity));

    BmpReportValues values;
    values.path = path;
    values.width = GetWidth();
    values.height = GetHeight();
    values.colorCount = GetColorCount();
    values.bitsPerPixel = GetBitsPerPixel();
    values.compressed = IsCompressed();
    values.dataSpace = m_dataSpace;
    values.secret = m_bHasSecret != 0;
    m_strReportPage = BuildBmpReportPage(m_strReportTemplate, values);
    m_strFailure.clear();
}

int CBmpPicture::Save(const std::string& path)
{
    if (!IsLoaded())
        return Fail(kPictureAlreadyLoaded, "No picture is loaded");
    if (std::string refusal = WhyCannotHide(); !refusal.empty())
        return Fail(kPictureNotSupported, std::move(refusal));
    if (!m_pDib->HasPixels() && !m_pDib->KeepsFile())
        return Fail(kPictureAlreadyLoaded, "The picture was loaded for reading only");

    WriteLog(IDS_LOG_SAVE_BMP_SECRET);
    std::string error;
    bool saved = false;
    if (m_pDib->HasPixels()) {
        EmbedContainer(
            m_mode, { m_pDib->GetPixelData(), m_pDib->GetPixelDataLength() }, { m_container.data(), m_capacity });
        saved = m_pDib->Save(path, error);
    } else {
        // The same embedding, piece by piece on the way from the loaded file
        // to the new one. Pieces start on whole groups; the last one may end
        // inside one, which carries nothing.
        const std::size_t group = PixelBytesPerContainerByte(m_mode);
        saved = m_pDib->SaveFromFile(
            path,
            [&](std::span<std::uint8_t> pixels, std::size_t offset) {
                if (group == 0 || offset / group >= m_capacity)
                    return;
                const std::size_t first = offset / group;
                const std::size_t count = std::min(pixels.size() / group, m_capacity - first);
                EmbedContainer(m_mode, pixels.first(count * group), { m_container.data() + first, count });
            },
            error);
    }
    if (!saved)
        return Fail(kPictureWriteFailed, "The file cannot be written: " + error);
    m_strResultPage = BuildResultPage(m_strResultTemplate, path);
    m_strFailure.clear();
    return kPictureOk;
}

BmpStatus CBmpPicture::GetHidingStatus() const
{
    if (!m_pDib)
        return BmpStatus::Ok;
    // The hiding modes address stored bytes. Only without compression (or
    // with bit-field masks, which sit outside the pixel data) are those the
    // pixels; otherwise they are run codes or an embedded JPEG or PNG stream,
    // and changing their bits would corrupt the picture.
    switch (m_pDib->GetCompression()) {
    case kCompressionNone:
    case kCompressionBitFields:
        return BmpStatus::Ok;
    case kCompressionRle8:
    case kCompressionRle4:
        return BmpStatus::RunLengthEncoded;
    case kCompressionJpeg:
        return BmpStatus::EmbeddedJpeg;
    case kCompressionPng:
        return BmpStatus::EmbeddedPng;
    default:
        return BmpStatus::OtherCompression;
    }
}

std::string CBmpPicture::WhyCannotHide() const
{
    if (!IsLoaded())
        return CCarrierPicture::WhyCannotHide();
    const BmpResult result { GetHidingStatus(), m_pDib->GetCompression(), {} };
    return result.IsOk() ? std::string() : result.Reason();
}

std::int32_t CBmpPicture::GetWidth() const { return m_pDib ? m_pDib->GetWidth() : 0; }

std::int32_t CBmpPicture::GetHeight() const { return m_pDib ? m_pDib->GetHeight() : 0; }

int CBmpPicture::GetBitsPerPixel() const { return m_pDib ? m_pDib->GetBitsPerPixel() : 0; }

std::int64_t CBmpPicture::GetColorCount() const
{
    if (!m_pDib)
        return 0;
    const int bits = m_pDib->GetBitsPerPixel();
    return std::int64_t(1) << (bits == 32 ? 24 : bits);
}
