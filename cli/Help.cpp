#include "cli/Help.h"

#include <map>
#include <sstream>
#include <vector>

namespace
{
constexpr std::size_t kOptionColumn = 24;

std::string Wrapped(const std::string& text, std::size_t width)
{
    std::string out;
    std::istringstream paragraphs(text);
    std::string paragraph;
    while (std::getline(paragraphs, paragraph))
    {
        std::istringstream words(paragraph);
        std::string word, line;
        while (words >> word)
        {
            if (!line.empty() && line.size() + 1 + word.size() > width)
            {
                out += line + "\n";
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        out += line + "\n";
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

// An option as the shells complete it.
struct Completed
{
    std::vector<std::string> names; // -p, --port
    std::string value;              // PORT, IMAGE, FILE, MS...; empty for a flag
    std::string about;              // the start of its description
    bool repeats = false;
};

std::vector<Completed> CompletedOptions(const CLI::App& cli)
{
    std::vector<Completed> list;
    for (const CLI::Option* opt : cli.get_options())
    {
        if (opt->get_group().empty())
            continue; // hidden from --help, so from the shells too
        Completed c;
        for (const auto& name : opt->get_snames())
            c.names.push_back("-" + name);
        for (const auto& name : opt->get_lnames())
            c.names.push_back("--" + name);
        if (opt->get_type_size() != 0)
            c.value = opt->get_type_name();
        // The first clause is enough beside a candidate.
        c.about = opt->get_description();
        c.about = c.about.substr(0, std::min(c.about.find(" ("), c.about.find(';')));
        c.repeats = opt->get_expected_max() >= CLI::detail::expected_max_vector_size;
        list.push_back(c);
    }
    return list;
}

std::string Joined(const std::vector<std::string>& parts, const char* between)
{
    std::string text;
    for (const auto& part : parts)
        text += (text.empty() ? "" : between) + part;
    return text;
}

void Replace(std::string& text, const std::string& mark, const std::string& with)
{
    text.replace(text.find(mark), mark.size(), with);
}

const char* const kBash =
    R"sh(# bash completion for kd7x-update, made by "kd7x-update --completion bash" from its options.

# The ports the program lists, their /dev/serial/by-id names and auto; else the path being typed.
_kd7x_update_ports()
{
    local cmd=${COMP_WORDS[0]/#\~/$HOME} path rest
    local -a ports=(auto)
    while read -r path rest; do
        [[ $path == /* || $path == COM* ]] && ports+=("$path")
        [[ $rest =~ \((/dev/serial/[^\)]*)\)$ ]] && ports+=("${BASH_REMATCH[1]}")
    done < <("$cmd" --list-ports 2>/dev/null)
    mapfile -t COMPREPLY < <(compgen -W "${ports[*]}" -- "$1")
    if ((${#COMPREPLY[@]} == 0)) && [[ $1 == */* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$1")
    fi
}

# Files matching $2 (every file when empty) and the folders on the way to them.
_kd7x_update_files()
{
    compopt -o filenames 2>/dev/null
    if [[ -n $2 ]]; then
        mapfile -t COMPREPLY < <(compgen -f -X "!$2" -- "$1"; compgen -d -- "$1")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$1")
    fi
}

_kd7x_update()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # --port=/dev/ttyUSB0: bash splits the word at the "=".
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()
    case $prev in
@CASES@
    esac
    mapfile -t COMPREPLY < <(compgen -W "@OPTIONS@" -- "$cur")
}
complete -F _kd7x_update kd7x-update
)sh";

const char* const kZsh = R"sh(#compdef kd7x-update
# zsh completion for kd7x-update, made by "kd7x-update --completion zsh" from its options.

# The ports the program lists, their /dev/serial/by-id names and auto; else the path being typed.
_kd7x_update_ports() {
  local line ret=1
  local -a ports
  ports=(auto)
  for line in ${(f)"$(_call_program ports ${words[1]} --list-ports 2>/dev/null)"}; do
    [[ $line == (/|COM)* ]] && ports+=(${line%%[[:space:]]*})
    [[ $line == *'(/dev/serial/'*')' ]] && ports+=(${${line##*\(}%\)})
  done
  _wanted ports expl 'serial port' compadd -a ports && ret=0
  ((ret)) && [[ $PREFIX == */* ]] && _files && ret=0
  return ret
}

_arguments -s -S \
@SPECS@
)sh";

std::string BashScript(const std::vector<Completed>& options)
{
    std::map<std::string, std::vector<std::string>> byAction;
    std::vector<std::string> names;
    for (const auto& o : options)
    {
        names.insert(names.end(), o.names.begin(), o.names.end());
        if (o.value.empty())
            continue;
        const std::string action = o.value == "PORT"    ? "_kd7x_update_ports \"$cur\""
                                   : o.value == "IMAGE" ? "_kd7x_update_files \"$cur\" '*.bin'"
                                   : o.value == "FILE"  ? "_kd7x_update_files \"$cur\""
                                                        : ": nothing to list: a number";
        byAction[action].insert(byAction[action].end(), o.names.begin(), o.names.end());
    }
    std::string cases;
    for (const auto& [action, flags] : byAction)
        cases += "        " + Joined(flags, "|") + ")\n            " + action + "\n            return ;;\n";
    cases.pop_back();
    std::string script = kBash;
    Replace(script, "@CASES@", cases);
    Replace(script, "@OPTIONS@", Joined(names, " "));
    return script;
}

std::string ZshScript(const std::vector<Completed>& options)
{
    std::vector<std::string> specs;
    for (const auto& o : options)
    {
        std::string about;
        for (char c : o.about)
            about += c == '\'' ? std::string("'\\''") : c == '[' ? "(" : c == ']' ? ")" : std::string(1, c);
        std::string argument;
        if (!o.value.empty())
        {
            std::string lower;
            for (char c : o.value)
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            argument = ":" + lower + ":" +
                       (o.value == "PORT"    ? "_kd7x_update_ports"
                        : o.value == "IMAGE" ? "_files -g \"*.bin(-.)\""
                        : o.value == "FILE"  ? "_files"
                                             : " ");
        }
        const std::string exclusive = o.repeats ? "*" : "(" + Joined(o.names, " ") + ")";
        for (const auto& name : o.names)
        {
            const std::string takes = o.value.empty() ? "" : name.size() == 2 ? "+" : "=";
            specs.push_back("  '" + exclusive + name + takes + "[" + about + "]" + argument + "'");
        }
    }
    std::string script = kZsh;
    Replace(script, "@SPECS@", Joined(specs, " \\\n"));
    return script;
}
} // namespace

CHelpFormatter::CHelpFormatter() { column_width(kOptionColumn); }

std::string CHelpFormatter::make_option_name(const CLI::Option* opt, bool positional) const
{
    std::string names = Formatter::make_option_name(opt, positional);
    for (std::size_t at = names.find(','); !positional && at != std::string::npos; at = names.find(',', at + 2))
        names.insert(at + 1, " ");
    return names;
}

std::string CHelpFormatter::make_option_desc(const CLI::Option* opt) const
{
    return Wrapped(opt->get_description(), kHelpColumns - kOptionColumn);
}

std::string CompletionScript(const CLI::App& cli, const std::string& shell)
{
    if (shell == "bash")
        return BashScript(CompletedOptions(cli));
    if (shell == "zsh")
        return ZshScript(CompletedOptions(cli));
    return "";
}
