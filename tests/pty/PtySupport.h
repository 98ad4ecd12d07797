// An upgrade against the simulated radio on a real pseudo-terminal.
#pragma once

#include "app/UpgradeRun.h"
#include "serial/posix/TermiosSerialPort.h"
#include "sim/RadioSim.h"

#include "../support/NullView.h"
#include "../support/TestSupport.h"

#include <functional>
#include <memory>
#include <string>

// Records what a front end would show.
class CRecordingView : public CNullView
{
public:
    void OnTraceText(const std::vector<char>& bytes) override { m_text.append(bytes.begin(), bytes.end()); }
    bool OnProgress(const std::wstring& caption, int, int, bool) override
    {
        m_captions.push_back(caption);
        return false;
    }
    void ShowOutcome(const UpgradeResult& result) override
    {
        m_results.push_back(result);
        m_portOpenAtOutcome = m_probe && m_probe();
    }

    std::function<bool()> m_probe;
    std::string m_text;
    std::vector<std::wstring> m_captions;
    std::vector<UpgradeResult> m_results;
    bool m_portOpenAtOutcome = false;
};

// Fast pauses so a whole upgrade takes a moment; the time-out still lets faults be retried.
inline const char* kFastSettings = "[Device]\ntimeout=300\nlistenInterval=10\nWriteDataFrameInterval=5\n"
                                   "ListenUpdateRetry=20\n";

struct PtyRun
{
    explicit PtyRun(RadioSimOptions options = {}, const std::string& settings = kFastSettings)
        : m_settings(settings), m_sim(WithOut(std::move(options), m_dir))
    {
        std::string error;
        m_started = m_sim.Start(&error);
        m_sim.RunInThread();
    }

    static RadioSimOptions WithOut(RadioSimOptions options, const CTempDir& dir)
    {
        options.outDir = dir.File("received");
        options.exitAfterWrite = false;
        return options;
    }

    std::wstring Device() const { return std::wstring(m_sim.SlavePath().begin(), m_sim.SlavePath().end()); }

    UpgradeResult Run(const std::wstring& app, const std::wstring& rcdb)
    {
        m_port = std::make_shared<CTermiosSerialPort>();
        auto port = m_port;
        m_view.m_probe = [port] { return port->IsOpen(); };
        UpgradeRequest request = MakeRequest("7", Device(), app, rcdb);
        return RunUpgrade(request, m_view, [port] { return port; });
    }

    std::wstring Image(const std::string& name, std::size_t size, unsigned seed)
    {
        const auto data = RandomImage(size, seed);
        const std::string path = m_dir.File(name);
        WriteBytes(path, data);
        return std::wstring(path.begin(), path.end());
    }

    const CRadioReceiver& StopRadio()
    {
        m_sim.Stop();
        m_sim.SaveImages();
        return m_sim.Radio();
    }

    CTempDir m_dir;
    CSettingsFile m_settings;
    CRadioSim m_sim;
    bool m_started = false;
    CRecordingView m_view;
    std::shared_ptr<CTermiosSerialPort> m_port;
};
