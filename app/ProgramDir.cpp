#include "app/ProgramDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

std::string WithTrailingSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// Creating a file is the only reliable test: access(2) says yes to root on a
// folder where nothing can be created (/proc) and ignores read-only mounts in
// some setups.
bool CanCreateFilesIn(const std::string& folder)
{
    std::string probe = folder + ".veilmark-write-test-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string UserDataFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return WithTrailingSlash(dataHome) + "veilmark/";
    const char* home = std::getenv("HOME");
    return WithTrailingSlash(home != nullptr && home[0] != '\0' ? home : "/tmp") + ".local/share/veilmark/";
}

} // namespace

std::string GetProgramDir()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    return WithTrailingSlash(executable.parent_path().string());
}

std::string ChoosePageFolder(const std::string& programDir)
{
    if (CanCreateFilesIn(programDir))
        return programDir;
    const std::string folder = UserDataFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return folder;
}
