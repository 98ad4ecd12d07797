// Wide and narrow text: the ANSI code page on Windows, UTF-8 elsewhere. Elsewhere a byte that is
// not UTF-8 (a file name in another encoding) becomes U+DC80..U+DCFF and goes back to the same
// byte, so any path survives the way through wide text.
#pragma once

#include <string>

std::string WideToNarrow(const std::wstring& text);
std::wstring NarrowToWide(const std::string& text);
// UTF-8 on every platform: for JSON and the terminal of the command line.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// The last part of a path: the file name with its extension.
std::wstring BaseNameOf(const std::wstring& path);

#include <filesystem>

// A file-system path from wide text and back, without going through a locale.
std::filesystem::path PathFromWide(const std::wstring& text);
std::wstring PathToWide(const std::filesystem::path& path);
