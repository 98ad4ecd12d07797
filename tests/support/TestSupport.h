// Helpers shared by the tests: a temporary folder, files, an engine that never sleeps.
#pragma once

#include "config/Settings.h"
#include "engine/Kd7v001YmodemControl.h"
#include "platform/Text.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class CTempDir
{
public:
    CTempDir()
    {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() / ("kd7x-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~CTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline void WriteBytes(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<char>(text.begin(), text.end()));
}

inline std::vector<char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path)
{
    auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

inline std::vector<char> RandomImage(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<char> data(size);
    for (auto& c : data)
        c = static_cast<char>(rng() & 0xFF);
    return data;
}

// Points the settings at a file of its own for the life of a test.
class CSettingsFile
{
public:
    explicit CSettingsFile(const std::string& content = "")
    {
        if (!content.empty())
            WriteText(m_dir.File("test.ini"), content);
        SetIniPathOverride(PathToWide(m_dir.Path() / "test.ini"));
    }
    ~CSettingsFile() { SetIniPathOverride(L""); }
    CSettingsFile(const CSettingsFile&) = delete;
    CSettingsFile& operator=(const CSettingsFile&) = delete;
    std::string Path() const { return m_dir.File("test.ini"); }
    std::string Content() const { return ReadText(Path()); }

private:
    CTempDir m_dir;
};

// The one clock of the tests' engine and fake ports: pauses move it, and so do reads that wait.
inline std::atomic<DWORD> g_testTick{0};

// The engine on the tests' clock: pauses are recorded and move the clock instead of sleeping.
class CTestEngine : public Kd7v001YmodemControl
{
public:
    void Delay(DWORD milliseconds) override
    {
        m_delays.push_back(milliseconds);
        g_testTick += milliseconds;
    }
    DWORD GetTick() override { return g_testTick; }
    // Milliseconds on the clock since this engine was made.
    DWORD Elapsed() const { return g_testTick - m_start; }
    std::vector<DWORD> m_delays;
    DWORD m_start = g_testTick;
};

// The steps in which the engine takes these pauses.
inline std::vector<DWORD> Steps(std::initializer_list<DWORD> pauses)
{
    std::vector<DWORD> steps;
    for (DWORD pause : pauses)
    {
        for (; pause > Kd7v001YmodemControl::kPauseStepMs; pause -= Kd7v001YmodemControl::kPauseStepMs)
            steps.push_back(Kd7v001YmodemControl::kPauseStepMs);
        if (pause > 0)
            steps.push_back(pause);
    }
    return steps;
}
