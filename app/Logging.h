// The program's one named logger and its rotating log file.
#pragma once

#include "config/Logger.h"

#include <filesystem>
#include <memory>
#include <string>

namespace spdlog
{
class logger;
}

constexpr std::size_t kLogMaxSize = 1048576;
constexpr std::size_t kLogRotatedFiles = 3;

// Creates and registers the logger with its file at path (appended to, never rotated on open).
// When the file cannot be created it returns null and says why in error; the program goes on
// without a log. Tagged lines carry the logger's name, for loggers cloned per radio.
std::shared_ptr<spdlog::logger> CreateAppLogger(const std::filesystem::path& path, std::string* error = nullptr,
                                                bool tagged = false);
