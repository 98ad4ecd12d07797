// One port's tile in the station window: a frame in the colour of the port's state that takes the
// focus, a click and Space or Enter, with the texts in static controls of its own (read by a test
// as an operator reads them) and a progress bar.
#pragma once

#include "app/StationBoard.h"

#include <windows.h>

struct StationFonts
{
    HFONT port = nullptr;
    HFONT state = nullptr;
    HFONT text = nullptr;
};

class CStationTile
{
public:
    CStationTile(HWND parent, int id, const StationFonts& fonts);
    ~CStationTile();
    CStationTile(const CStationTile&) = delete;
    CStationTile& operator=(const CStationTile&) = delete;

    HWND Hwnd() const { return m_hwnd; }
    const StationTile& Shown() const { return m_shown; }
    // Only what changed is set again, so a tile that stands still costs nothing.
    void Show(const StationTile& tile);
    void Place(const RECT& rect, double scale);
    void SetFonts(const StationFonts& fonts);

    // Its height at 96 dots per inch.
    static constexpr int kHeight = 224;
    static constexpr int kMinWidth = 240;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Click();
    HWND Child(int id) const { return GetDlgItem(m_hwnd, id); }

    HWND m_hwnd = nullptr;
    StationTile m_shown;
    bool m_painted = false; // Show has set every text once
    COLORREF m_back = RGB(240, 240, 240);
    COLORREF m_fore = RGB(0, 0, 0);
    HBRUSH m_brush = nullptr;
    double m_scale = 1.0;
};
