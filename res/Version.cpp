#include "res/Version.h"

// The whole marker text lives in the program's read-only data, so a reader can
// find "VEILMARK-FILEVERSION:" followed by the version text in the file.
[[gnu::used]] const char kEmbeddedFileVersion[] = "VEILMARK-FILEVERSION:1, 0, 0, 1";
