// The program's one named logger, looked up by name at each log point.
#pragma once

constexpr const char* kAppLoggerName = "CKd7YmodemUpdateApp";
