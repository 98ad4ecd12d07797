#include "platform/Text.h"

namespace
{
// Bytes that are not UTF-8 travel as these lone surrogates.
constexpr char32_t kEscapeBase = 0xDC00;
} // namespace

// UTF-8 by hand: the locale-dependent converters would tie the result to the caller's locale.
std::string WideToNarrow(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text)
    {
        auto c = static_cast<char32_t>(wc);
        if (c == 0)
            break;
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF)
        {
            out += static_cast<char>(c - kEscapeBase);
            continue;
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = U'?';
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0x800)
        {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring NarrowToWide(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size())
    {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == 0)
            break;
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
        for (int k = 1; ok && k <= extra; ++k)
        {
            const auto cont = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((cont & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (cont & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not UTF-8 either.
        static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF))
            ok = false;
        if (!ok)
        {
            out += static_cast<wchar_t>(kEscapeBase + b);
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::string WideToUtf8(const std::wstring& text) { return WideToNarrow(text); }

std::wstring Utf8ToWide(const std::string& text) { return NarrowToWide(text); }

std::wstring BaseNameOf(const std::wstring& path)
{
    const std::size_t slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::filesystem::path PathFromWide(const std::wstring& text) { return std::filesystem::path(WideToNarrow(text)); }

std::wstring PathToWide(const std::filesystem::path& path) { return NarrowToWide(path.string()); }
