#pragma once

#include <filesystem>
#include <string>
#include <vector>

// One run of the built veilmark-cli as a separate process.
struct RunResult {
    int status = -1; // the exit status, 128 + signal for a killed run
    std::string out;
    std::string err;
    long peakMemoryKiB = 0; // the largest resident size the run reached
};

// Runs veilmark-cli with `arguments` in `folder`, feeding `input` on standard
// input; standard output and error are kept in files of that folder.
RunResult RunCli(
    const std::filesystem::path& folder, const std::vector<std::string>& arguments, const std::string& input = {});
