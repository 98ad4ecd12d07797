// The operator's station on Windows: the station of kd7x-update --station (RunStation on a thread
// of its own, a worker per port) with a tile per port, the tallies and the last radios. The
// workers' events wait in an inbox and one posted message at a time wakes the window; the window
// paints at most ten times a second and never waits on a port.
#pragma once

#include "app/StationBoard.h"
#include "app/StationChoices.h"
#include "gui/DialogBase.h"
#include "gui/StationTile.h"

#include <memory>
#include <string>
#include <vector>

class CStationDlg : public CDialogBase
{
public:
    // The choices of the command line, over those of the settings file.
    explicit CStationDlg(StationSwitches switches = {});
    ~CStationDlg() override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnCancel() override;

private:
    struct Running;

    void LoadChoices();
    void FillPorts(const StationPorts& chosen);
    StationPorts ChosenPorts() const;
    void Browse(int field, bool record);
    void Start();
    void Stop();
    // Events wait in the inbox: the paint timer runs, and takes them onto the board when it ends.
    void Wake();
    void TakeEvents();
    void Ended();
    void Refresh();
    void ShowRows();
    void Layout();
    void MakeFonts();
    void EnableChoices(bool enable);
    void SetText(int id, const std::string& text);
    void Release(int tileId);
    void Close();
    double Scale() const { return m_dpi / 96.0; }
    int Px(int pixels) const { return static_cast<int>(pixels * Scale() + 0.5); }

    StationSwitches m_switches;
    CStationBoard m_board;
    std::unique_ptr<Running> m_run;
    bool m_started = false; // a station ran in this window: the board has something to show
    std::vector<std::unique_ptr<CStationTile>> m_tiles;
    std::vector<std::string> m_named; // the ports of the station running, for its board
    int m_dpi = 96;
    StationFonts m_fonts;
    HFONT m_tallyFont = nullptr;
    HICON m_hIcon = nullptr;
    bool m_paintDue = false;   // the redraw timer runs
    DWORD m_firstStopTick = 0; // of the first Stop, when a second within a second is the same press
    bool m_rowsDue = false;    // a radio ended since the last paint
    bool m_asking = false;     // the question before closing is open
    bool m_closing = false;    // the window goes once the station has ended
    bool m_recordRed = false;  // the record cannot be written
};
