#include "sim/RadioSim.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

void SleepMs(long ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

CRadioSim::CRadioSim(RadioSimOptions options) : m_options(std::move(options)), m_radio(m_options.faults) {}

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

bool CRadioSim::Start(std::string* error)
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

void CRadioSim::Run()
{
    bool slaveOpen = false;
    bool menuShown = false;
    auto openedAt = Clock::now();
    auto lastByteAt = Clock::now();
    std::vector<char> buffer(4096);
    while (!m_stop && m_master >= 0)
    {
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
                m_radio.Idle();
                m_radio.HostGone();
                if (m_options.exitAfterWrite && m_radio.WriteCommandSeen())
                    break;
            }
            SleepMs(20);
            continue;
        }
        const auto now = Clock::now();
        if (!slaveOpen)
        {
            slaveOpen = true;
            openedAt = now;
        }
        if (!menuShown && !m_options.noMenu && now - openedAt >= std::chrono::milliseconds(m_options.menuDelayMs))
        {
            WritePaced(std::vector<char>(m_options.menuText.begin(), m_options.menuText.end()));
            menuShown = true;
        }
        if (!(p.revents & POLLIN))
        {
            if (m_radio.HasPartialFrame() && now - lastByteAt > std::chrono::milliseconds(500))
                m_radio.Idle();
            continue;
        }
        const ssize_t got = ::read(m_master, buffer.data(), buffer.size());
        if (got <= 0)
            continue;
        lastByteAt = now;
        menuShown = true; // the host is talking: the menu has done its part
        Pace(static_cast<std::size_t>(got));
        const std::size_t imagesBefore = m_radio.Images().size();
        const auto answers = m_radio.Feed(buffer.data(), static_cast<std::size_t>(got));
        if (m_radio.Images().size() > imagesBefore)
            SaveImage(m_radio.Images().back(), nullptr);
        if (m_options.restartAfterWriteMs >= 0 && m_radio.WriteCommandSeen())
        {
            // A radio with its own USB serial chip: the port disappears as it restarts.
            SleepMs(m_options.restartAfterWriteMs);
            CloseMaster();
            break;
        }
        for (const auto& answer : answers)
        {
            if (answer.vanish)
            {
                CloseMaster();
                break;
            }
            SleepMs(m_options.answerDelayMs);
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
    for (const auto& image : m_radio.Images())
    {
        if (!SaveImage(image, error))
            return false;
    }
    return true;
}

bool CRadioSim::SaveImage(const ReceivedImage& image, std::string* error) const
{
    if (m_options.outDir.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(m_options.outDir, ec);
    std::string name = std::filesystem::path(image.name).filename().string();
    if (name.empty() || name == "." || name == "..")
        name = "image" + std::to_string(image.code) + ".bin";
    const auto path = std::filesystem::path(m_options.outDir) / name;
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
