// Enters a folder as the current directory and goes back to the one before when it ends:
// the monitor library and the blood-pressure module find their files from there.
#pragma once

#include <filesystem>
#include <system_error>

class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::filesystem::path previous_;
};
