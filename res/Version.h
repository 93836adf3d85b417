#pragma once

#include "base/VersionMarker.h"

// The program's file version, as the about box and the update check read it.
inline constexpr char kFileVersionText[] = "1, 0, 0, 1";

// Referencing this keeps the marker in the linked program file.
extern const char kEmbeddedFileVersion[];
