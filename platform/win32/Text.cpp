#include "platform/Text.h"

#include <windows.h>

namespace
{
std::string FromWide(UINT codePage, const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::wstring ToWide(UINT codePage, const std::string& text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}
} // namespace

std::string WideToNarrow(const std::wstring& text) { return FromWide(CP_ACP, text); }

std::wstring NarrowToWide(const std::string& text) { return ToWide(CP_ACP, text); }

std::string WideToUtf8(const std::wstring& text) { return FromWide(CP_UTF8, text); }

std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text); }

std::wstring BaseNameOf(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L"\\/:");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::filesystem::path PathFromWide(const std::wstring& text) { return std::filesystem::path(text); }

std::wstring PathToWide(const std::filesystem::path& path) { return path.wstring(); }
