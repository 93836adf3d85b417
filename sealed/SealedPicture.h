#pragma once

#include "jpeg/JpegCoefficientFile.h"
#include "picture/PngPicture.h"
#include "sealed/CoverElements.h"
#include "sealed/JpegCoefficientElements.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A picture file as a cover for a sealed message: a bitmap (its samples, see
// BmpSampleGrid.h), a PNG file (PngPicture.h) or a JPEG file (its non-zero AC
// coefficients, JpegCoefficientElements.h), told apart by their first bytes.
// Saving writes the same kind of file with the same size, layout and
// metadata; only sample or coefficient values differ. For a JPEG file,
// `maxImageBytes` bounds the memory its coefficients take.
class CSealedPicture {
public:
    enum class Format { None, Bmp, Png, Jpeg };

    // `willSave` says that the picture is loaded to be saved again, which
    // lets a PNG picture start encoding while it is decoded.
    [[nodiscard]] bool Load(const std::string& path, bool willSave = false);
    [[nodiscard]] bool LoadFromBytes(std::vector<std::uint8_t> file,
        std::uint64_t maxImageBytes = CPngPicture::kDefaultMaxImageBytes, bool willSave = false);
    // Writes the picture atomically; false with a reason on failure.
    [[nodiscard]] bool Save(const std::string& path);

    Format GetFormat() const { return m_format; }
    // Why a loaded picture offers no samples (empty when it does), or why the
    // file could not be loaded at all.
    const std::string& GetReason() const { return m_strReason; }
    bool HasElements() const { return m_pElements != nullptr; }
    CCoverElements& GetElements() { return *m_pElements; }
    std::uint64_t GetElementCount() const { return m_pElements ? m_pElements->Count() : 0; }
    const CPngPicture* GetPng() const { return m_format == Format::Png ? &m_png : nullptr; }
    const CJpegCoefficientFile* GetJpeg() const { return m_format == Format::Jpeg ? m_pJpeg.get() : nullptr; }

private:
    Format m_format = Format::None;
    std::vector<std::uint8_t> m_file; // a bitmap's bytes, changed in place
    CPngPicture m_png;
    std::unique_ptr<CJpegCoefficientFile> m_pJpeg;
    std::unique_ptr<CCoverElements> m_pElements;
    CJpegCoefficientElements* m_pJpegElements = nullptr; // m_pElements, for a JPEG file
    std::string m_strReason;
};
