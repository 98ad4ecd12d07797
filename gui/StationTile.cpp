#include "gui/StationTile.h"

#include "gui/DialogBase.h"
#include "platform/Text.h"
#include "res/resource.h"

#include <commctrl.h>

namespace
{
const wchar_t* const kTileClass = L"KD7XStationTile";

struct Colours
{
    COLORREF back, fore;
};

// Strong colours, white text where the background is dark: readable from across the bench.
Colours ColoursOf(TileColour colour)
{
    switch (colour)
    {
    case TileColour::Flashing: return {RGB(25, 95, 190), RGB(255, 255, 255)};
    case TileColour::Done: return {RGB(20, 135, 55), RGB(255, 255, 255)};
    case TileColour::Failed: return {RGB(190, 25, 25), RGB(255, 255, 255)};
    case TileColour::Attention: return {RGB(245, 175, 0), RGB(0, 0, 0)};
    case TileColour::Dim: return {RGB(205, 205, 205), RGB(105, 105, 105)};
    case TileColour::Neutral: break;
    }
    return {RGB(240, 240, 240), RGB(0, 0, 0)};
}

void SetText(HWND control, const std::string& text) { SetWindowTextW(control, Utf8ToWide(text).c_str()); }

int Scaled(int pixels, double scale) { return static_cast<int>(pixels * scale + 0.5); }
} // namespace

CStationTile::CStationTile(HWND parent, int id, const StationFonts& fonts)
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &CStationTile::Proc;
        wc.hInstance = AppInstance();
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)); // IDC_HAND
        wc.lpszClassName = kTileClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    m_hwnd = CreateWindowExW(0, kTileClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 0, 0, 10, 10,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), AppInstance(), this);
    // Plain text controls: what a radio said is shown as it stands, never taken for a mnemonic.
    const struct
    {
        int id;
        DWORD style;
    } texts[] = {{IDC_TILE_PORT, SS_LEFT | SS_ENDELLIPSIS},   {IDC_TILE_STATE, SS_LEFT | SS_ENDELLIPSIS},
                 {IDC_TILE_DETAIL, SS_LEFT | SS_EDITCONTROL}, {IDC_TILE_PERCENT, SS_RIGHT},
                 {IDC_TILE_ID, SS_LEFT | SS_ENDELLIPSIS},     {IDC_TILE_LAST, SS_LEFT | SS_EDITCONTROL}};
    for (const auto& text : texts)
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | text.style, 0, 0, 10, 10, m_hwnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(text.id)), AppInstance(), nullptr);
    CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 10, 10, m_hwnd,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TILE_BAR)), AppInstance(), nullptr);
    SendMessageW(Child(IDC_TILE_BAR), PBM_SETRANGE32, 0, 100);
    m_brush = CreateSolidBrush(m_back);
    SetFonts(fonts);
}

CStationTile::~CStationTile()
{
    if (m_hwnd != nullptr)
    {
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
    if (m_brush != nullptr)
        DeleteObject(m_brush);
}

void CStationTile::SetFonts(const StationFonts& fonts)
{
    for (const auto& [id, font] : {std::pair(IDC_TILE_PORT, fonts.port), std::pair(IDC_TILE_STATE, fonts.state),
                                   std::pair(IDC_TILE_DETAIL, fonts.text), std::pair(IDC_TILE_PERCENT, fonts.text),
                                   std::pair(IDC_TILE_ID, fonts.text), std::pair(IDC_TILE_LAST, fonts.text)})
        SendMessageW(Child(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void CStationTile::Place(const RECT& rect, double scale)
{
    m_scale = scale;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    MoveWindow(m_hwnd, rect.left, rect.top, width, height, TRUE);
    const int pad = Scaled(10, scale);
    const int inner = width - 2 * pad;
    const int percent = Scaled(48, scale);
    int y = pad;
    const auto row = [&](int id, int x, int w, int h) { MoveWindow(Child(id), x, y, w, Scaled(h, scale), TRUE); };
    row(IDC_TILE_PORT, pad, inner, 24);
    y += Scaled(24, scale);
    row(IDC_TILE_STATE, pad, inner, 42);
    y += Scaled(44, scale);
    row(IDC_TILE_DETAIL, pad, inner, 54);
    y += Scaled(56, scale);
    row(IDC_TILE_BAR, pad, inner - percent - Scaled(4, scale), 18);
    row(IDC_TILE_PERCENT, pad + inner - percent, percent, 18);
    y += Scaled(22, scale);
    row(IDC_TILE_ID, pad, inner, 20);
    y += Scaled(20, scale);
    MoveWindow(Child(IDC_TILE_LAST), pad, y, inner, height - y - pad / 2, TRUE);
}

void CStationTile::Show(const StationTile& tile)
{
    const bool all = !m_painted;
    m_painted = true;
    for (const auto& [id, text, was] :
         {std::tuple(IDC_TILE_PORT, &tile.port, &m_shown.port), std::tuple(IDC_TILE_STATE, &tile.state, &m_shown.state),
          std::tuple(IDC_TILE_DETAIL, &tile.detail, &m_shown.detail),
          std::tuple(IDC_TILE_ID, &tile.radioId, &m_shown.radioId),
          std::tuple(IDC_TILE_LAST, &tile.last, &m_shown.last)})
        if (all || *text != *was)
            SetText(Child(id), id == IDC_TILE_ID && !text->empty() ? "radio " + *text : *text);
    if (all || tile.percent != m_shown.percent)
    {
        const bool bar = tile.percent >= 0;
        ShowWindow(Child(IDC_TILE_BAR), bar ? SW_SHOWNA : SW_HIDE);
        SendMessageW(Child(IDC_TILE_BAR), PBM_SETPOS, static_cast<WPARAM>(bar ? tile.percent : 0), 0);
        SetText(Child(IDC_TILE_PERCENT), bar ? std::to_string(tile.percent) + " %" : std::string());
    }
    if (all || tile.colour != m_shown.colour)
    {
        const Colours colours = ColoursOf(tile.colour);
        m_back = colours.back;
        m_fore = colours.fore;
        if (m_brush != nullptr)
            DeleteObject(m_brush);
        m_brush = CreateSolidBrush(m_back);
        RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
    m_shown = tile;
}

void CStationTile::Click()
{
    HWND parent = GetParent(m_hwnd);
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(m_hwnd), BN_CLICKED), reinterpret_cast<LPARAM>(m_hwnd));
}

void CStationTile::Paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hwnd, &ps);
    RECT r;
    GetClientRect(m_hwnd, &r);
    FillRect(dc, &r, m_brush);
    // The focus as a thick frame in the text's colour: the keyboard's place, seen from afar.
    const bool focused = GetFocus() == m_hwnd;
    HBRUSH frame = CreateSolidBrush(focused ? m_fore : RGB(150, 150, 150));
    const int width = focused ? Scaled(4, m_scale) : 1;
    for (int i = 0; i < width; ++i)
    {
        FrameRect(dc, &r, frame);
        InflateRect(&r, -1, -1);
    }
    DeleteObject(frame);
    EndPaint(m_hwnd, &ps);
}

LRESULT CStationTile::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_PAINT: Paint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_CTLCOLORSTATIC:
    {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, m_fore);
        SetBkColor(dc, m_back);
        return reinterpret_cast<LRESULT>(m_brush);
    }
    case WM_GETDLGCODE:
    {
        // Enter and Space are the tile's own, not the dialog's default button.
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg != nullptr && msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_SPACE))
            return DLGC_WANTMESSAGE;
        return DLGC_WANTCHARS;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN || wParam == VK_SPACE)
        {
            Click();
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
        SetFocus(m_hwnd);
        Click();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: InvalidateRect(m_hwnd, nullptr, FALSE); return 0;
    default: break;
    }
    return DefWindowProcW(m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK CStationTile::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* created = reinterpret_cast<CStationTile*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<CStationTile*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}
