#pragma once

#include <optional>
#include <string>

// What one guess of a sealed password costs: the seconds of one Argon2id
// derivation with the format's parameters on this computer. It is measured
// once per run, by the first caller of MeasureGuessSeconds, and remembered.

// The measured figure, when a measurement has finished.
std::optional<double> KnownGuessSeconds();

// Measures (or returns the remembered figure). Takes as long as one
// derivation: call it off the user-interface thread. Without the memory
// Argon2id needs it gives nothing, and a later call tries again.
std::optional<double> MeasureGuessSeconds();

// The figure as the prompt shows it: two significant digits ("0.15", "1.2").
std::string FormatGuessSeconds(double seconds);
