#pragma once

#include <string>
#include <string_view>

// Joins a folder and a file name with exactly one "/" between them.
[[nodiscard]] std::string JoinPath(std::string_view folder, std::string_view name);

// The URL of a file on the update server: the server address, a "/" unless
// the address already ends with one, and the file name.
[[nodiscard]] std::string JoinUrl(std::string_view serverAddress, std::string_view fileName);

// True for an absolute http or https URL with a host, as libcurl parses it.
[[nodiscard]] bool IsValidUrl(const std::string& url);

// True for an https URL, as libcurl parses it.
[[nodiscard]] bool IsHttpsUrl(const std::string& url);

// The absolute URL that `reference` (a redirect's Location, absolute or
// relative) names when met at `base`; empty when it cannot be resolved.
[[nodiscard]] std::string ResolveUrl(const std::string& base, const std::string& reference);

// True when following a redirect from `from` to `to` would give up https: a
// file asked for over https must not arrive over plain http.
[[nodiscard]] bool IsDowngradingRedirect(const std::string& from, const std::string& to);

// The per-user folder that receives downloads, with a trailing "/":
// $XDG_CACHE_HOME/veilmark/ when that variable holds an absolute path,
// else ~/.cache/veilmark/.
[[nodiscard]] std::string GetUpdateFolderPath();

// Creates the folder and any missing parents (owner access only). Fails with
// the system's reason when the path exists and is not a folder, or cannot be
// made.
[[nodiscard]] bool CreateUpdateFolder(const std::string& folder, std::string& error);

// A file name for the copy of `url` in the download folder: the last segment
// of the URL's path with every byte outside [A-Za-z0-9._-] replaced by '_';
// "download" when that leaves nothing usable.
[[nodiscard]] std::string CacheFileNameForUrl(const std::string& url);

// The path of the running program file, empty when the system does not say.
[[nodiscard]] std::string GetRunningProgramPath();
