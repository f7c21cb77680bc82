#pragma once

// Command lines of the tools, declared as data on CLI11: a command declares
// each option once, with the check of its value and a line of help, and both
// the parsing and the --help text come from that declaration.
//
//   CLI::App cli;
//   tv::cli::Prepare(cli, "qzftool info", "Size, blocks, ...\n");
//   cli.add_option("FILE", file, "the recording")->required();
//   tv::cli::AddInt(cli, "--threads", "N", &threads, 1, 256, "--threads must be 1 to 256",
//                   "decoding threads");
//   if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0)
//       return status;
//
// Bad arguments end in one line on stderr, "<tool> <command>: <why>", and
// exit status 2; --help prints the text on stdout with status 0.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tv::cli {

// Decimal only: CLI11's own conversion would read "010" as eight and "0x10"
// as sixteen, which no user of these tools means.
inline bool ParseWhole(const std::string& s, long long lo, long long hi, long long* out) {
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

inline bool ParseReal(const std::string& s, double lo, double hi, double* out) {
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !(v >= lo && v <= hi)) {
        return false;
    }
    *out = v;
    return true;
}

// Turns a value's text into the value; returns the one line that says why
// not, or an empty string.
using Reader = std::function<std::string(const std::string&)>;

// An option (or, named without dashes, a positional argument) whose text
// goes through read; a refusal is the whole error line.
inline CLI::Option* AddValue(CLI::App& app, const std::string& name, const std::string& valueName,
                             const std::string& help, Reader read) {
    CLI::Option* o = app.add_option_function<std::string>(
        name,
        [read](const std::string& text) {
            const std::string why = read(text);
            if (!why.empty()) {
                throw CLI::ValidationError(why);
            }
        },
        help);
    return o->type_name(valueName);
}

inline CLI::Option* AddText(CLI::App& app, const std::string& name, const std::string& valueName,
                            std::string* out, const std::string& help) {
    return app.add_option(name, *out, help)->type_name(valueName);
}

template <typename Int>
CLI::Option* AddInt(CLI::App& app, const std::string& name, const std::string& valueName, Int* out,
                    long long lo, long long hi, const std::string& problem,
                    const std::string& help) {
    return AddValue(app, name, valueName, help, [out, lo, hi, problem](const std::string& s) {
        long long v = 0;
        if (!ParseWhole(s, lo, hi, &v)) {
            return problem;
        }
        *out = static_cast<Int>(v);
        return std::string();
    });
}

// A whole number that must be one of a few values (--split 1|4|9|16).
template <typename Int>
CLI::Option* AddIntOf(CLI::App& app, const std::string& name, Int* out,
                      const std::vector<long long>& allowed, const std::string& problem,
                      const std::string& help) {
    std::string valueName;
    for (long long a : allowed) {
        valueName += (valueName.empty() ? "" : "|") + std::to_string(a);
    }
    return AddValue(app, name, valueName, help, [out, allowed, problem](const std::string& s) {
        long long v = 0;
        if (!ParseWhole(s, allowed.front(), allowed.back(), &v) ||
            std::find(allowed.begin(), allowed.end(), v) == allowed.end()) {
            return problem;
        }
        *out = static_cast<Int>(v);
        return std::string();
    });
}

inline CLI::Option* AddReal(CLI::App& app, const std::string& name, const std::string& valueName,
                            double* out, double lo, double hi, const std::string& problem,
                            const std::string& help) {
    return AddValue(app, name, valueName, help, [out, lo, hi, problem](const std::string& s) {
        return ParseReal(s, lo, hi, out) ? std::string() : problem;
    });
}

// A value that is one of a few words, each standing for a value of T. A
// "{}" in problem stands for the word given.
template <typename T>
CLI::Option* AddChoice(CLI::App& app, const std::string& name, T* out,
                       const std::vector<std::pair<std::string, T>>& choices,
                       const std::string& problem, const std::string& help) {
    std::string valueName;
    for (const auto& c : choices) {
        valueName += (valueName.empty() ? "" : "|") + c.first;
    }
    return AddValue(app, name, valueName, help, [out, choices, problem](const std::string& s) {
        for (const auto& c : choices) {
            if (c.first == s) {
                *out = c.second;
                return std::string();
            }
        }
        std::string why = problem;
        if (const size_t at = why.find("{}"); at != std::string::npos) {
            why.replace(at, 2, s);
        }
        return why;
    });
}

// The help text: a usage line made from the declared options, the command's
// own description, then one line per option.
class CHelpFormatter : public CLI::FormatterBase {
public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        const std::vector<const CLI::Option*> options =
            app->get_options([](const CLI::Option* o) { return !o->get_group().empty(); });
        std::string usage = "usage: " + app->get_name();
        const std::string indent(usage.size() + 1, ' ');
        size_t lineStart = 0;
        auto addWord = [&](const std::string& word) {
            if (usage.size() - lineStart + 1 + word.size() > kWidth) {
                usage += "\n";
                lineStart = usage.size();
                usage += indent.substr(1);
            }
            usage += " " + word;
        };
        // Positional arguments first, in their order, then the options.
        for (const CLI::Option* o : options) {
            if (o->get_positional()) {
                addWord(o->get_required() ? o->get_name(true) : "[" + o->get_name(true) + "]");
            }
        }
        for (const CLI::Option* o : options) {
            if (!o->get_positional() && o != app->get_help_ptr()) {
                const std::string word = Spelling(o, false);
                addWord(o->get_required() ? word : "[" + word + "]");
            }
        }
        std::string text = usage + "\n" + app->get_description();
        if (!text.empty() && text.back() != '\n') {
            text += '\n';
        }
        // Help lines start in one column; a longer name has its help below it.
        size_t column = 0;
        for (const CLI::Option* o : options) {
            column = std::max(column, std::min<size_t>(Spelling(o, true).size(), 22));
        }
        text += "\n";
        std::string help;
        for (const CLI::Option* o : options) {
            std::string line = "  " + Spelling(o, true);
            line.resize(std::max(line.size(), column + 4), ' ');
            (o == app->get_help_ptr() ? help : text) +=
                Wrap(line, o->get_description(), column + 4);
        }
        return text + help;
    }

private:
    static constexpr size_t kWidth = 96;

    // "--format NAME", "-h, --help" (with every name when all), "FILE".
    static std::string Spelling(const CLI::Option* o, bool all) {
        if (o->get_positional()) {
            return o->get_name(true);
        }
        std::string names;
        if (all) {
            for (const std::string& s : o->get_snames()) {
                names += "-" + s + ", ";
            }
        }
        names += "--" + o->get_lnames().front();
        if (!o->get_type_name().empty()) {
            names += " " + o->get_type_name();
        }
        return names;
    }

    // The option's help after its name, wrapped under itself.
    static std::string Wrap(const std::string& head, const std::string& body, size_t indent) {
        std::string out = head;
        size_t lineLength = head.size();
        if (lineLength > indent) {
            out += "\n" + std::string(indent, ' ');
            lineLength = indent;
        }
        size_t i = 0;
        bool firstWord = true;
        while (i < body.size()) {
            const size_t space = body.find(' ', i);
            const std::string word = body.substr(i, space == std::string::npos ? space : space - i);
            i = space == std::string::npos ? body.size() : space + 1;
            if (word.empty()) {
                continue;
            }
            if (!firstWord && lineLength + 1 + word.size() > kWidth) {
                out += "\n" + std::string(indent, ' ');
                lineLength = indent;
                firstWord = true;
            }
            out += (firstWord ? "" : " ") + word;
            lineLength += (firstWord ? 0 : 1) + word.size();
            firstWord = false;
        }
        return out + "\n";
    }
};

// Names the command (its error lines start with it), takes its description
// and sets what every command of these tools shares.
inline void Prepare(CLI::App& app, const std::string& name, const std::string& description) {
    app.name(name);
    app.description(description);
    app.formatter(std::make_shared<CHelpFormatter>());
    app.set_help_flag("-h,--help", "this text");
    // As the tools always did: an option given twice takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// The one line for a refused command line.
inline std::string ProblemText(const CLI::App& app, const CLI::ParseError& e) {
    // A word the command does not know explains the rest (a value taken as
    // an argument, an argument missing): it is named first.
    const std::vector<std::string> left = app.remaining();
    for (const std::string& a : left) {
        if (a.size() > 1 && a[0] == '-') {
            return "unknown option '" + a + "'";
        }
    }
    if (!left.empty()) {
        return "unexpected argument '" + left.front() + "'";
    }
    const std::string what = e.what();
    // CLI11 says "--out: 1 required DIR missing" when the value is missing.
    const std::string tail = " missing";
    const size_t colon = what.find(": ");
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr && colon != std::string::npos &&
        what.size() > tail.size() &&
        what.compare(what.size() - tail.size(), tail.size(), tail) == 0) {
        return what.substr(0, colon) + " needs a value";
    }
    return what;
}

// Parses a command line whose argv[0] is the command's name. Returns -1 to
// go on; otherwise the exit status, after the help text or the error line.
inline int Parse(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::Success&) {
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "%s: %s\n", app.get_name().c_str(), ProblemText(app, e).c_str());
        return 2;
    }
    return -1;
}

} // namespace tv::cli
