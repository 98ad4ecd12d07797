#include "app/Logging.h"

#include "engine/LogText.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

std::shared_ptr<spdlog::logger> CreateAppLogger(const std::filesystem::path& path, std::string* error, bool tagged)
{
    try
    {
        spdlog::drop(kAppLoggerName);
        // The system's own form of the name: wide on Windows, so no folder is lost to a code page.
        auto logger = spdlog::rotating_logger_mt(kAppLoggerName, path.native(), kLogMaxSize, kLogRotatedFiles, false);
        spdlog::set_formatter(std::make_unique<spdlog::pattern_formatter>(
            tagged ? "[%Y-%m-%d %H:%M:%S.%e][%l][%n][%s,%#]:%v" : "[%Y-%m-%d %H:%M:%S.%e][%l][%s,%#]:%v",
            spdlog::pattern_time_type::local, std::string(kLogLineEnd)));
        logger->flush_on(spdlog::level::warn);
        return logger;
    }
    catch (const spdlog::spdlog_ex& e)
    {
        if (error != nullptr)
            *error = e.what();
        return nullptr;
    }
}
