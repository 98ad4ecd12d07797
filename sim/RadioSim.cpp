#include "sim/RadioSim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
// After its write command a radio stays while the host reads the answer; a radio the host
// stopped talking to is taken away once the host would have resent long since.
constexpr Ms kLinger{500};
constexpr Ms kGiveUp{5000};

void SleepMs(long ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(Ms(ms));
}

bool AnyFault(const RadioFaults& f)
{
    return f.nakRate > 0 || f.dropRate > 0 || f.garbleRate > 0 || f.cBeforeAck || f.splitAckC || f.firstEotAck ||
           f.ignoreSelect || f.vanishAfter >= 0 || f.silentAfter >= 0 || f.dupAck >= 0 || f.loseBlock >= 0 ||
           f.loseEotNak || f.freezeAfterEob;
}
} // namespace

CRadioSim::CRadioSim(RadioSimOptions options) : m_options(std::move(options))
{
    const auto count = static_cast<std::size_t>(std::max(1, m_options.radios));
    m_faulty.assign(count, m_options.faultShare < 0 && AnyFault(m_options.faults));
    if (m_options.faultShare >= 0)
    {
        // Which radios are faulty follows from the seed alone, so a run can be played again.
        std::vector<std::size_t> order(count);
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(m_options.faults.seed));
        const auto faulty =
            std::min(count, static_cast<std::size_t>(std::lround(m_options.faultShare * static_cast<double>(count))));
        for (std::size_t i = 0; i < faulty; ++i)
            m_faulty[order[i]] = true;
        if (!AnyFault(m_options.faults))
            m_options.faults.silentAfter = 3;
    }
    NextRadio();
}

void CRadioSim::NextRadio()
{
    const std::size_t k = m_radios.size();
    RadioFaults faults = m_faulty[k] ? m_options.faults : RadioFaults{};
    faults.seed = m_options.faults.seed + static_cast<unsigned>(k);
    m_radios.emplace_back(faults);
}

CRadioSim::~CRadioSim()
{
    Stop();
    CloseMaster();
    // The link goes only while it is ours: another radio may have taken its name since.
    if (!m_options.linkPath.empty())
    {
        std::error_code ec;
        if (std::filesystem::read_symlink(m_options.linkPath, ec) == m_slavePath)
            std::filesystem::remove(m_options.linkPath, ec);
    }
}

bool CRadioSim::Start(std::string* error) { return OpenPty(error); }

bool CRadioSim::OpenPty(std::string* error)
{
    const auto fail = [error](const std::string& why) {
        if (error != nullptr)
            *error = why;
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return fail(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    const char* name = ptsname(m_master);
    if (name == nullptr)
        return fail("cannot name the pseudo-terminal");
    m_slavePath = name;
    // Raw from the start: a radio does not echo, and the menu must arrive as it was sent.
    termios tio{};
    if (tcgetattr(m_master, &tio) == 0)
    {
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!m_options.linkPath.empty())
    {
        std::error_code ec;
        std::filesystem::remove(m_options.linkPath, ec);
        std::filesystem::create_symlink(m_slavePath, m_options.linkPath, ec);
        if (ec)
            return fail("cannot link " + m_options.linkPath + ": " + ec.message());
    }
    return true;
}

void CRadioSim::Pace(std::size_t bytes) const
{
    if (m_options.baud > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(bytes * 10ull * 1000000ull / m_options.baud));
}

void CRadioSim::WritePaced(const std::vector<char>& bytes)
{
    Pace(bytes.size());
    std::size_t done = 0;
    while (done < bytes.size() && m_master >= 0)
    {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            SleepMs(1);
        else
            break;
    }
}

void CRadioSim::CloseMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void CRadioSim::Unplug()
{
    CloseMaster();
    std::error_code ec;
    if (!m_options.linkPath.empty() && std::filesystem::read_symlink(m_options.linkPath, ec) == m_slavePath)
        std::filesystem::remove(m_options.linkPath, ec);
}

std::string CRadioSim::Serial(std::size_t radio) const
{
    if (!m_options.serial.empty())
        return m_options.serial;
    char text[32];
    std::snprintf(text, sizeof text, "KD7X-%06lu",
                  static_cast<unsigned long>((m_options.faults.seed * 1000ull + radio + 1) % 1000000ull));
    return text;
}

std::string CRadioSim::MenuText(std::size_t radio) const
{
    return "\r\n==== KD7X boot loader ====\r\nS/N " + Serial(radio) + "  firmware " + m_options.firmware + "\r\n" +
           m_options.menuText;
}

std::string CRadioSim::RestartText(std::size_t radio) const
{
    const CRadioReceiver& receiver = m_radios[radio];
    const std::string firmware = receiver.NewFirmware();
    return "\r\nKD7X restarting\r\nS/N " + (m_options.bannerSerial.empty() ? Serial(radio) : m_options.bannerSerial) +
           "  firmware " + (firmware.empty() ? m_options.firmware : firmware) + "\r\n" + receiver.ImagesReport() +
           "\r\n";
}

void CRadioSim::Run()
{
    const bool series = Series();
    bool slaveOpen = false;
    bool menuShown = false;
    bool present = true; // a radio is on the line
    bool talked = false; // the host has sent it something
    auto openedAt = Clock::now();
    auto arrivedAt = Clock::now();
    auto lastByteAt = Clock::now();
    auto leftAt = Clock::now();
    // After the write command: the port goes (a radio with its own USB serial chip) and comes back,
    // and the restart text is said, each when its time comes.
    const auto never = Clock::time_point::max();
    auto unplugAt = never, replugAt = never, restartAt = never, saidAt = never;
    bool restarted = false; // the port went and came back with the restart
    // Answers sent late (a duplicate ACK), in the order they are due.
    std::deque<std::pair<Clock::time_point, std::vector<char>>> later;
    const auto leave = [&](Clock::time_point now) {
        present = false;
        leftAt = now;
        later.clear();
        unplugAt = replugAt = restartAt = saidAt = never;
        restarted = false;
        if (m_options.hotplug)
            Unplug();
    };
    std::vector<char> buffer(4096);
    while (!m_stop)
    {
        const auto now = Clock::now();
        if (series && !present && now - leftAt >= Ms(m_options.gapMs))
        {
            if (m_radios.size() >= static_cast<std::size_t>(std::max(1, m_options.radios)))
            {
                if (m_options.exitAfterWrite)
                    break; // the bench is empty
            }
            else
            {
                if (m_master < 0 && !OpenPty(nullptr))
                    break;
                NextRadio();
                present = true;
                talked = false;
                menuShown = false;
                arrivedAt = now;
            }
        }
        if (present && now >= unplugAt)
        {
            unplugAt = never;
            Unplug();
            replugAt = now + Ms(m_options.bootMs);
        }
        if (present && now >= replugAt)
        {
            replugAt = never;
            if (!OpenPty(nullptr))
                break;
            restarted = true;
            slaveOpen = false;
            arrivedAt = now;
        }
        if (m_master < 0)
        {
            if (!series && replugAt == never)
                break;
            SleepMs(20);
            continue;
        }
        pollfd p{m_master, POLLIN, 0};
        const int n = poll(&p, 1, 20);
        if (n < 0 && errno != EINTR)
            break;
        if (p.revents & POLLHUP)
        {
            // Nobody has the port open.
            if (slaveOpen)
            {
                slaveOpen = false;
                menuShown = false;
                m_radios.back().Idle();
                m_radios.back().HostGone();
                const bool done = Radio().WriteCommandSeen() || Radio().Frozen();
                if (series && present && talked && (!restarted || saidAt != never))
                    leave(now);
                else if (!series && m_options.exitAfterWrite && done && (!restarted || saidAt != never))
                    break;
            }
            // A restarted radio nobody opens again leaves in the end.
            if (restarted && now - arrivedAt >= kGiveUp)
            {
                if (!series && m_options.exitAfterWrite)
                    break;
                if (series && present)
                    leave(now);
            }
            SleepMs(20);
            continue;
        }
        if (!slaveOpen)
        {
            slaveOpen = true;
            openedAt = now;
        }
        if (!present)
        {
            // No radio on the line: what the host sends goes nowhere.
            if ((p.revents & POLLIN) && ::read(m_master, buffer.data(), buffer.size()) < 0)
                SleepMs(20);
            continue;
        }
        CRadioReceiver& radio = m_radios.back();
        const std::size_t index = m_radios.size() - 1;
        const auto since = now - std::max(openedAt, arrivedAt);
        if (restarted && restartAt == never && saidAt == never && since >= Ms(m_options.menuDelayMs))
            restartAt = now; // the host has the port again: the radio says how its restart went
        else if (!restarted && !menuShown && !m_options.noMenu && since >= Ms(m_options.menuDelayMs))
        {
            WriteText(MenuText(index));
            menuShown = true;
        }
        while (!later.empty() && later.front().first <= now)
        {
            WritePaced(later.front().second);
            later.pop_front();
        }
        if (now >= restartAt)
        {
            restartAt = never;
            saidAt = now;
            if (!m_options.noBanner)
                WriteText(RestartText(index));
        }
        const bool wrote = radio.WriteCommandSeen();
        const long writes = radio.WriteCommands();
        if (series && talked &&
            (wrote ? saidAt != never && now - std::max(saidAt, lastByteAt) >= kLinger : now - lastByteAt >= kGiveUp))
        {
            leave(now);
            continue;
        }
        // A frozen radio reads nothing: what the host sends stays on the line.
        if (!(p.revents & POLLIN) || radio.Frozen())
        {
            if (radio.HasPartialFrame() && now - lastByteAt > Ms(500))
                radio.Idle();
            if (radio.Frozen())
                SleepMs(20);
            continue;
        }
        const ssize_t got = ::read(m_master, buffer.data(), buffer.size());
        if (got <= 0)
            continue;
        lastByteAt = now;
        talked = true;
        menuShown = true; // the host is talking: the menu has done its part
        Pace(static_cast<std::size_t>(got));
        const std::size_t imagesBefore = radio.Images().size();
        const auto answers = radio.Feed(buffer.data(), static_cast<std::size_t>(got));
        if (radio.Images().size() > imagesBefore)
            SaveImage(m_radios.size(), radio.Images().back(), nullptr);
        if (radio.WriteCommands() > writes)
        {
            if (m_options.restartAfterWriteMs >= 0)
                unplugAt = now + Ms(m_options.restartAfterWriteMs);
            else
                restartAt = now + Ms(m_options.bootMs);
        }
        for (const auto& answer : answers)
        {
            if (answer.vanish)
            {
                // The radio took its port with it.
                if (series)
                {
                    Unplug();
                    leave(now);
                }
                else
                    CloseMaster();
                break;
            }
            if (answer.afterMs > 0)
            {
                for (const auto& piece : answer.pieces)
                    later.emplace_back(now + Ms(answer.afterMs), piece);
                continue;
            }
            SleepMs(m_options.answerDelayMs);
            if (answer.menu)
                WriteText(MenuText(index));
            for (std::size_t i = 0; i < answer.pieces.size(); ++i)
            {
                if (i > 0)
                    SleepMs(m_options.splitGapMs);
                WritePaced(answer.pieces[i]);
            }
        }
    }
    m_finished = true;
}

void CRadioSim::RunInThread()
{
    m_thread = std::thread([this] { Run(); });
}

void CRadioSim::Stop()
{
    m_stop = true;
    Wait();
}

void CRadioSim::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool CRadioSim::SaveImages(std::string* error) const
{
    for (std::size_t k = 0; k < m_radios.size(); ++k)
    {
        for (const auto& image : m_radios[k].Images())
        {
            if (!SaveImage(k + 1, image, error))
                return false;
        }
    }
    return true;
}

bool CRadioSim::SaveImage(std::size_t radio, const ReceivedImage& image, std::string* error) const
{
    if (m_options.outDir.empty())
        return true;
    // A series keeps each radio's images apart: out/1/, out/2/, ...
    const auto folder = Series() ? std::filesystem::path(m_options.outDir) / std::to_string(radio)
                                 : std::filesystem::path(m_options.outDir);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string name = std::filesystem::path(image.name).filename().string();
    if (name.empty() || name == "." || name == "..")
        name = "image" + std::to_string(image.code) + ".bin";
    const auto path = folder / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.data.data(), static_cast<std::streamsize>(image.data.size()));
    if (!out)
    {
        if (error != nullptr)
            *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

std::string CRadioSim::SummaryText() const
{
    if (!Series())
        return FormatSummaryText(Radio());
    // A line a radio; only a violation takes more.
    std::string text;
    for (std::size_t k = 0; k < m_radios.size(); ++k)
    {
        const std::string whole = FormatSummaryText(m_radios[k]);
        const std::size_t from = whole.find(": ") + 2;
        text += "radio " + std::to_string(k + 1) + (m_faulty[k] ? " (faulty): " : ": ") +
                whole.substr(from, whole.find('\n') - from) + "\n";
        for (const auto& violation : m_radios[k].Violations())
            text += "  violation: " + violation + "\n";
    }
    return text;
}

nlohmann::json CRadioSim::Summary() const
{
    if (!Series())
        return SummaryJson(Radio());
    nlohmann::json radios = nlohmann::json::array();
    for (std::size_t k = 0; k < m_radios.size(); ++k)
    {
        radios.push_back(SummaryJson(m_radios[k]));
        radios.back()["faulty"] = m_faulty[k];
    }
    return {{"radios", radios}};
}

bool CRadioSim::Clean() const
{
    return std::all_of(m_radios.begin(), m_radios.end(),
                       [](const CRadioReceiver& radio) { return radio.Violations().empty(); });
}
