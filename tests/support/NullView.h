#pragma once

#include "app/UpgradeRun.h"

#include <vector>

// A front end that shows nothing and records the outcomes.
class CNullView : public IUpgradeView
{
public:
    void OnTraceText(const std::vector<char>&) override {}
    void OnTraceHex(const std::vector<char>&) override {}
    bool OnProgress(const std::wstring&, int, int, bool) override { return false; }
    void OnImageStart(int, const std::wstring&, int, std::size_t) override {}
    bool OnWriteProgress(int, int) override { return false; }
    void OnProgressEnd() override {}
    void ShowOutcome(const UpgradeResult& result) override { outcomes.push_back(result.outcome); }
    std::vector<UpgradeOutcome> outcomes;
};

inline UpgradeRequest MakeRequest(std::string portSetting, std::wstring device, std::wstring app, std::wstring rcdb)
{
    UpgradeRequest request;
    request.portSetting = std::move(portSetting);
    request.device = std::move(device);
    request.appPath = std::move(app);
    request.rcdbPath = std::move(rcdb);
    return request;
}
