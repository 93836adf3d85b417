#include "carrier/PictureFactory.h"

#include "jpeg/JpegPicture.h"
#include "picture/BmpPicture.h"

std::unique_ptr<CCarrierPicture> CreatePicture(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Bmp:
        return std::make_unique<CBmpPicture>();
    case PictureKind::Jpeg:
        return std::make_unique<CJpegPicture>();
    case PictureKind::Png: // carries only the sealed format
    case PictureKind::Unknown:
        break;
    }
    return nullptr;
}

std::string UnsupportedPictureReason(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Unknown:
        return "Unknown picture type: the file name must end in .bmp, .jpg, .jpeg or .png";
    case PictureKind::Png:
        return "A PNG picture carries only sealed messages (hide --sealed)";
    case PictureKind::Bmp:
    case PictureKind::Jpeg:
        break;
    }
    return {};
}
