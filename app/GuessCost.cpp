#include "app/GuessCost.h"

#include "sealed/SealedKeys.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_costLock;
std::optional<double> g_measured;

} // namespace

std::optional<double> KnownGuessSeconds()
{
    const std::lock_guard lock(g_costLock);
    return g_measured;
}

std::optional<double> MeasureGuessSeconds()
{
    if (const std::optional<double> known = KnownGuessSeconds())
        return known;
    if (!StartSodium())
        return std::nullopt;
    // An attacker's guess is exactly this derivation: the salt's positions
    // come cheaply from the password, the key only from Argon2id.
    const std::uint8_t salt[kSealedSaltBytes] = {};
    CSealedKey master;
    const auto start = std::chrono::steady_clock::now();
    if (!DeriveMasterKey("a guess", salt, kSealedKdf, master))
        return std::nullopt;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::lock_guard lock(g_costLock);
    if (!g_measured)
        g_measured = seconds;
    return g_measured;
}

std::string FormatGuessSeconds(double seconds)
{
    char text[32];
    if (seconds >= 10)
        std::snprintf(text, sizeof text, "%.0f", seconds);
    else if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.1f", seconds);
    else {
        // Two significant digits below one second, however small.
        const int decimals = std::max(2, 1 - int(std::floor(std::log10(std::max(seconds, 1e-6)))));
        std::snprintf(text, sizeof text, "%.*f", decimals, seconds);
    }
    return text;
}
