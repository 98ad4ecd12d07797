#pragma once

#include "engine/Kd7v001YmodemControl.h"

#include <cstddef>
#include <string>
#include <vector>

// m:ss, or h:mm:ss from an hour on.
std::string FormatClock(double seconds);

// "caption 33%" (done * 100 / total, truncated) or "caption 3/300".
std::wstring FormatProgressText(const std::wstring& caption, int done, int total, bool percent);

// Whether a progress call should pump window messages: small totals always, else every fourth
// step and the last two.
bool ShouldPump(int done, int total);

// Image bytes acknowledged when frame done of total is about to go: the data blocks before it.
std::size_t BytesBefore(int done, int total, std::size_t imageBytes);

// The dialog's "host write location n/n" in words: the image selection (1, 2) or the write command (4).
std::string LocationStepText(int done);

// Why an attempt failed, as a person reads it: "NAK", "no answer", "answer 86", "write timed out".
std::string FailureText(AttemptFailure why, const std::vector<char>& answer);
