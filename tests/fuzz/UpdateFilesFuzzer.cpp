// libFuzzer target: the two files an update server sends, over arbitrary
// bytes. The version parser must stay inside the text and, when it reads a
// version, leave the position inside it; the patch-list search must end on
// any list and only ever name a plain file name.

#include "update/PatchList.h"
#include "update/VersionFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string_view body = StripByteOrderMark(text);
    if (body.size() > text.size() || body.data() + body.size() != text.data() + text.size())
        __builtin_trap();
    std::size_t position = 0;
    const std::optional<FileVersion> version = ParseFileVersion(body, position);
    if (version && (position == 0 || position > body.size()))
        __builtin_trap();

    // The list is searched for the version it starts with, when it starts
    // with one, so records that match are found and checked too.
    const PatchSearch search = FindPatchRecord(text, version.value_or(FileVersion { { 1, 0, 0, 1 } }));
    if (search.name && (!search.readable || !IsPlainFileName(*search.name) || search.name->size() > kPatchNameLimit))
        __builtin_trap();
    return 0;
}
