#include "sealed/SealedPicture.h"

#include "base/FileIO.h"
#include "picture/BmpSampleGrid.h"
#include "sealed/SampleGridElements.h"

#include <cstring>

namespace {

constexpr std::uint8_t kPngSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
// A JPEG file starts with its start-of-image marker (ITU-T T.81 B.2.1).
constexpr std::uint8_t kJpegStartOfImage[2] = { 0xFF, 0xD8 };
// Each coefficient is held as a 16-bit value.
constexpr std::uint64_t kCoefficientBytes = 2;

} // namespace

bool CSealedPicture::Load(const std::string& path, bool willSave)
{
    std::vector<std::uint8_t> file;
    std::string error;
    if (!ReadWholeFile(path, file, error)) {
        m_strReason = "The file cannot be read: " + error;
        return false;
    }
    return LoadFromBytes(std::move(file), CPngPicture::kDefaultMaxImageBytes, willSave);
}

bool CSealedPicture::LoadFromBytes(std::vector<std::uint8_t> file, std::uint64_t maxImageBytes, bool willSave)
{
    m_format = Format::None;
    m_pElements.reset();
    m_pJpegElements = nullptr;
    m_pJpeg.reset();
    m_strReason.clear();
    if (file.size() >= sizeof kPngSignature && std::memcmp(file.data(), kPngSignature, sizeof kPngSignature) == 0) {
        if (!m_png.LoadFromBytes(std::move(file), maxImageBytes, willSave)) {
            m_strReason = m_png.GetFailureReason();
            return false;
        }
        m_format = Format::Png;
        m_strReason = m_png.WhyNoSamples();
        if (m_strReason.empty())
            m_pElements = std::make_unique<CSampleGridElements>(m_png.GetSampleGrid());
        return true;
    }
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') {
        m_file = std::move(file);
        m_format = Format::Bmp;
        SampleGrid grid;
        if (DescribeBmpSamples(m_file, grid, m_strReason))
            m_pElements = std::make_unique<CSampleGridElements>(grid);
        return true;
    }
    if (file.size() >= sizeof kJpegStartOfImage
        && std::memcmp(file.data(), kJpegStartOfImage, sizeof kJpegStartOfImage) == 0) {
        auto jpeg = std::make_unique<CJpegCoefficientFile>();
        if (const JpegResult result = jpeg->ReadMemory(file, maxImageBytes / kCoefficientBytes); !result.IsOk()) {
            m_strReason = result.Reason();
            return false;
        }
        m_pJpeg = std::move(jpeg);
        m_format = Format::Jpeg;
        auto elements = std::make_unique<CJpegCoefficientElements>(*m_pJpeg);
        m_strReason = elements->WhyUnusable();
        if (m_strReason.empty()) {
            m_pJpegElements = elements.get();
            m_pElements = std::move(elements);
        }
        return true;
    }
    m_strReason = "The file is neither a BMP, a PNG nor a JPEG picture";
    return false;
}

bool CSealedPicture::Save(const std::string& path)
{
    switch (m_format) {
    case Format::Png:
        if (!m_png.Save(path)) {
            m_strReason = m_png.GetFailureReason();
            return false;
        }
        return true;
    case Format::Bmp: {
        std::string error;
        if (!WriteFileAtomically(path, { m_file }, error)) {
            m_strReason = "The file cannot be written: " + error;
            return false;
        }
        return true;
    }
    case Format::Jpeg:
        if (m_pJpegElements)
            m_pJpegElements->WriteBack();
        if (const JpegResult result = m_pJpeg->Write(path); !result.IsOk()) {
            m_strReason = result.Reason();
            return false;
        }
        return true;
    case Format::None:
        break;
    }
    m_strReason = "No picture is loaded";
    return false;
}
