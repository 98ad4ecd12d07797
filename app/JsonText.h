#pragma once

#include <string>

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonQuote(const std::string& text);
