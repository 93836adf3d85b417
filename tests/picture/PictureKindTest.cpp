#include "picture/PictureKind.h"

#include <gtest/gtest.h>

TEST(PictureKind, ByExtensionOfFileName)
{
    const std::pair<const char*, PictureKind> cases[] = {
        { "a.bmp", PictureKind::Bmp },
        { "/x/A.BMP", PictureKind::Bmp },
        { "photo.JpG", PictureKind::Jpeg },
        { "photo.jpeg", PictureKind::Jpeg },
        { "scan.PNG", PictureKind::Png },
        { "a.bmp.txt", PictureKind::Unknown },
        { "dir.bmp/picture", PictureKind::Unknown },
        { "picture", PictureKind::Unknown },
        { "picture.", PictureKind::Unknown },
        { "a.bmpx", PictureKind::Unknown },
        { "", PictureKind::Unknown },
    };
    for (const auto& [path, kind] : cases)
        EXPECT_EQ(PictureKindFromPath(path), kind) << path;
}
