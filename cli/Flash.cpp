#include "cli/Flash.h"

#include "app/RadioText.h"
#include "cli/CliPlatform.h"
#include "cli/RadioView.h"
#include "platform/Text.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <system_error>
#include <thread>

namespace
{
void LogStart(const RadioJob& job, const std::vector<ImageReport>& images)
{
    auto log = spdlog::get(job.request.logger);
    if (!log)
        return;
    std::string text = std::string("run start: kd7x-update ") + kVersion + ", port " + job.port;
    for (const auto& image : images)
        text += ", " + std::string(image.role == "app" ? "application" : "RCDB") + " image " + image.path + " (" +
                std::to_string(image.size) + " bytes, sha256 " + image.sha256 + ")";
    log->log(spdlog::source_loc{__FILE__, __LINE__, "LogStart"}, spdlog::level::info, "{}", text);
    log->flush();
}

void LogEnd(const RadioJob& job, const RadioReport& report)
{
    auto log = spdlog::get(job.request.logger);
    if (!log)
        return;
    const UpgradeResult& r = report.result;
    std::string text = std::string("run end: ") + ExitName(ExitCodeFor(report)) + " (exit " +
                       std::to_string(ExitCodeFor(report)) + ")" + WhereText(r);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", report.seconds);
    text += std::string(" after ") + seconds + ", " + std::to_string(r.resends) + " resend(s): " + OutcomeLine(report);
    if (r.lineClosedAfterWrite)
        text += " (the radio closed its line after the write command)";
    if (r.radioId)
        text += "; radio " + EscapeRadioText(*r.radioId);
    if (r.confirmed)
        text += *r.confirmed ? "; confirmed by the radio" : "; not confirmed by the radio";
    log->log(spdlog::source_loc{__FILE__, __LINE__, "LogEnd"}, spdlog::level::info, "{}", text);
    log->flush();
}

RadioReport Failed(const RadioJob& job, const std::string& why)
{
    RadioReport report;
    report.port = job.port;
    report.result.outcome = UpgradeOutcome::UnableToWrite;
    report.result.message = L"unable to write to host";
    report.result.detail = NarrowToWide(why);
    return report;
}

RadioReport FlashOne(const RadioJob& job, std::size_t index, const std::vector<ImageReport>& images, CConsole& console,
                     const std::atomic<bool>& cancel, const FlashOptions& options, const PortFactory& makePort)
try
{
    LogStart(job, images);
    const auto start = std::chrono::steady_clock::now();
    CRadioView view(console, index, cancel, options.verbose, options.waitMs);
    RadioReport report;
    report.port = job.port;
    report.result = RunUpgrade(job.request, view, makePort);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report.bytesSent = view.BytesSent();
    report.sendingSeconds = view.SendingSeconds();
    report.sending = view.Sending();
    report.sendingFrom = view.SendingFrom();
    report.sendingTo = view.SendingTo();
    report.stopCode = StopExitCode();
    LogEnd(job, report);
    return report;
}
catch (const std::exception& e)
{
    // A radio's thread never ends the program: its port closed with its run.
    return Failed(job, e.what());
}
} // namespace

std::vector<RadioReport> FlashRadios(const std::vector<RadioJob>& jobs, const std::vector<ImageReport>& images,
                                     CConsole& console, const std::atomic<bool>& cancel, const FlashOptions& options,
                                     const PortFactory& makePort)
{
    std::vector<RadioReport> reports(jobs.size());
    if (jobs.size() == 1)
    {
        reports[0] = FlashOne(jobs[0], 0, images, console, cancel, options, makePort);
        return reports;
    }
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs.size(); ++i)
    {
        try
        {
            threads.emplace_back([&, i] {
                reports[i] = FlashOne(jobs[i], i, images, console, cancel, options, makePort);
                // A radio that has ended says so on its line while the others go on.
                const bool ok = ExitCodeFor(reports[i]) == kExitSuccess;
                console.Progress(i, (ok ? "done: " : "failed: ") + OutcomeLine(reports[i]), true);
            });
        }
        catch (const std::system_error& e)
        {
            // The system gives no more threads: this radio is not touched, the others go on.
            reports[i] = Failed(jobs[i], std::string("cannot start its thread: ") + e.what());
        }
    }
    for (auto& thread : threads)
        thread.join();
    return reports;
}
