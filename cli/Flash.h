// Flashing one radio or many at once: one run per radio, each with its own view and logger.
#pragma once

#include "app/UpgradeRun.h"
#include "cli/Console.h"
#include "cli/Report.h"

#include <atomic>
#include <string>
#include <vector>

struct RadioJob
{
    std::string port; // as the person named it; also the name of its logger
    UpgradeRequest request;
};

struct FlashOptions
{
    bool verbose = false;
    DWORD waitMs = 0;
};

// Several radios go at once, a thread each, and fail alone; each result comes back in the order
// of the jobs. Each run's start and end go to its logger.
std::vector<RadioReport> FlashRadios(const std::vector<RadioJob>& jobs, const std::vector<ImageReport>& images,
                                     CConsole& console, const std::atomic<bool>& cancel, const FlashOptions& options,
                                     const PortFactory& makePort);
