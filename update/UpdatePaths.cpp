#include "update/UpdatePaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <curl/curl.h>

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

struct CurlTextDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

CurlText GetUrlPart(CURLU* handle, CURLUPart part)
{
    char* text = nullptr;
    if (curl_url_get(handle, part, &text, 0) != CURLUE_OK)
        return nullptr;
    return CurlText(text);
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return {};
}

} // namespace

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    const bool folderEnds = !path.empty() && path.back() == '/';
    const bool nameStarts = !name.empty() && name.front() == '/';
    if (folderEnds && nameStarts)
        name.remove_prefix(1);
    else if (!folderEnds && !nameStarts)
        path += '/';
    path += name;
    return path;
}

std::string JoinUrl(std::string_view serverAddress, std::string_view fileName)
{
    std::string url(serverAddress);
    if (url.empty() || url.back() != '/')
        url += '/';
    url += fileName;
    return url;
}

bool IsValidUrl(const std::string& url)
{
    if (url.empty())
        return false;
    UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    const CurlText scheme = GetUrlPart(handle.get(), CURLUPART_SCHEME);
    const CurlText host = GetUrlPart(handle.get(), CURLUPART_HOST);
    if (!scheme || !host || host.get()[0] == '\0')
        return false;
    return std::strcmp(scheme.get(), "http") == 0 || std::strcmp(scheme.get(), "https") == 0;
}

bool IsHttpsUrl(const std::string& url)
{
    UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    const CurlText scheme = GetUrlPart(handle.get(), CURLUPART_SCHEME);
    return scheme && std::strcmp(scheme.get(), "https") == 0;
}

std::string ResolveUrl(const std::string& base, const std::string& reference)
{
    // Setting a URL on a handle that holds one resolves it against the old
    // one, the way a client follows a relative Location.
    UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK
        || curl_url_set(handle.get(), CURLUPART_URL, reference.c_str(), 0) != CURLUE_OK)
        return {};
    const CurlText url = GetUrlPart(handle.get(), CURLUPART_URL);
    return url ? url.get() : std::string();
}

bool IsDowngradingRedirect(const std::string& from, const std::string& to)
{
    return IsHttpsUrl(from) && !IsHttpsUrl(to);
}

std::string GetUpdateFolderPath()
{
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/')
        return JoinPath(cache, "veilmark/");
    const std::string home = HomeFolder();
    if (home.empty())
        return {};
    return JoinPath(home, ".cache/veilmark/");
}

bool CreateUpdateFolder(const std::string& folder, std::string& error)
{
    if (folder.empty()) {
        error = "No folder for downloads is known";
        return false;
    }
    // Make each missing level in turn, like "mkdir -p".
    std::size_t next = folder.find('/', 1);
    while (true) {
        const std::string level = folder.substr(0, next);
        if (!level.empty() && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            error = level + ": " + std::strerror(errno);
            return false;
        }
        if (next == std::string::npos || next + 1 >= folder.size())
            break;
        next = folder.find('/', next + 1);
    }
    struct stat status { };
    if (::stat(folder.c_str(), &status) != 0) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = folder + ": " + std::strerror(ENOTDIR);
        return false;
    }
    return true;
}

std::string CacheFileNameForUrl(const std::string& url)
{
    std::string path;
    UrlHandle handle(curl_url());
    if (handle && curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        if (const CurlText part = GetUrlPart(handle.get(), CURLUPART_PATH))
            path = part.get();
    }
    std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    for (char& c : name) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.'
            || c == '_' || c == '-';
        if (!keep)
            c = '_';
    }
    if (name.empty() || name.find_first_not_of('.') == std::string::npos)
        return "download";
    return name;
}

std::string GetRunningProgramPath()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<std::size_t>(length));
    return path;
}
