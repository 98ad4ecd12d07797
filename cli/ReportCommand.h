// kd7x-update --report: the figures of a station's record, as a table or one JSON document.
#pragma once

#include "cli/Command.h"

#include <optional>
#include <string>

// record: the path as given; since: --since's text when it was given.
int ReportCommand(const CliOptions& options, const std::string& record, const std::optional<std::string>& since);
