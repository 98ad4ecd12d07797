// What kd7x-update says about its options: --help within 80 columns, and shell completion made
// from the same option list, so an option added to the parser is completed without more work.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

constexpr std::size_t kHelpColumns = 80;

// Names an option "-p, --port" and wraps its description to the columns left beside the names.
class CHelpFormatter : public CLI::Formatter
{
public:
    CHelpFormatter();
    std::string make_option_name(const CLI::Option* opt, bool positional) const override;
    std::string make_option_desc(const CLI::Option* opt) const override;
};

// The completion script of "bash" or "zsh" for the options --help shows, empty for another shell.
// An option's value is completed by the name --help gives it: PORT the serial ports (and
// device paths), IMAGE the .bin files, FILE any file; other values (numbers) get nothing.
std::string CompletionScript(const CLI::App& cli, const std::string& shell);
