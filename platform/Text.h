// Wide and narrow text: the ANSI code page on Windows, UTF-8 elsewhere.
#pragma once

#include <string>

std::string WideToNarrow(const std::wstring& text);
std::wstring NarrowToWide(const std::string& text);

#include <filesystem>

// A file-system path from wide text, without going through a locale.
std::filesystem::path PathFromWide(const std::wstring& text);
