#pragma once
// Fills a new SD card folder for the simulated unit with a few map files and
// generated log files, so that every command has something to work on.
#include <filesystem>
#include <string>

// Creates Maps/ and Logs/ under `card` and, when both are empty, puts sample
// files in them. False (with `error`) when the folders cannot be made.
[[nodiscard]] bool SeedSimCard(const std::filesystem::path& card, std::string& error);
