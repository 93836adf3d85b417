#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its
// contents. The program stops when the folder cannot be made, as no test can
// run without it.
class CTempFolder {
public:
    explicit CTempFolder(std::string_view prefix = "veilmark-test");
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Whole-file reads and writes for tests; a file that cannot be read reads as
// empty, a write that fails returns false. Writes make missing folders.
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
bool WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
bool WriteText(const std::filesystem::path& path, std::string_view text);
