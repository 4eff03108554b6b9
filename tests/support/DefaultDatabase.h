// A fresh default database, made from the same SQL files as the shipped one.
#pragma once

#include <filesystem>

// Creates a database at file (replacing any file there) from the default
// database's SQL files; throws std::runtime_error with SQLite's message.
void MakeDefaultDatabase(const std::filesystem::path& file);

// The settings file that the build lays out beside the program.
std::filesystem::path IniTemplatePath();
