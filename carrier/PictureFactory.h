#pragma once

#include "picture/CarrierPicture.h"
#include "picture/PictureKind.h"

#include <memory>
#include <string>

// A fresh, unloaded picture object of the given kind; nullptr for a kind this
// tool cannot open.
std::unique_ptr<CCarrierPicture> CreatePicture(PictureKind kind);

// Why CreatePicture gives no object for `kind`, in one sentence.
std::string UnsupportedPictureReason(PictureKind kind);
