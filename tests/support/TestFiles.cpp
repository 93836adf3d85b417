#include "support/TestFiles.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

CTempFolder::CTempFolder(std::string_view prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();
    m_path = pattern;
}

CTempFolder::~CTempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

namespace {

bool WriteRaw(const std::filesystem::path& path, const char* data, std::size_t size)
{
    std::error_code ignored;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, std::streamsize(size));
    return bool(out);
}

} // namespace

bool WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    return WriteRaw(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool WriteText(const std::filesystem::path& path, std::string_view text)
{
    return WriteRaw(path, text.data(), text.size());
}
