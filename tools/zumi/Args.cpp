#include "Args.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cctype>
#include <cstdlib>

namespace zumi {
namespace tool {

Args::Args(const std::vector<std::string>& argv, const std::vector<OptionSpec>& options) {
    bool optionsEnded = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        std::string arg = argv[i];
        if (!optionsEnded && arg.size() == 2 && arg[0] == '-') {
            for (const OptionSpec& option : options) {
                if (option.shortName == arg[1]) arg = "--" + option.name;
            }
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || (arg[1] != '-' && arg != "-h")) {
            m_positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            m_help = true;
            continue;
        }
        std::string name = arg.substr(2);
        std::string inlineValue;
        bool hasInlineValue = false;
        size_t eq = name.find('=');
        if (eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
            hasInlineValue = true;
        }
        const OptionSpec* known = nullptr;
        for (const OptionSpec& option : options) {
            if (option.name == name) known = &option;
        }
        if (known == nullptr) throw UsageError("unknown option --" + name);
        if (!known->takesValue) {
            if (hasInlineValue) throw UsageError("option --" + name + " takes no value");
            m_values[name].push_back("");
            continue;
        }
        if (hasInlineValue) {
            m_values[name].push_back(inlineValue);
        } else if (i + 1 < argv.size()) {
            m_values[name].push_back(argv[++i]);
        } else {
            throw UsageError("option --" + name + " needs a value");
        }
    }
}

std::string Args::value(const std::string& name, const std::string& fallback) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second.back();
}

std::vector<std::string> Args::values(const std::string& name) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? std::vector<std::string>() : it->second;
}

void Args::expectPositionals(const std::vector<std::string>& names, size_t min) const {
    if (m_positionals.size() < min) {
        throw UsageError("missing " + names[m_positionals.size()]);
    }
    if (m_positionals.size() > names.size()) {
        throw UsageError("unexpected argument '" + m_positionals[names.size()] + "'");
    }
}

int parseInt(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '+') {
        throw UsageError(what + " must be an integer, not '" + text + "'");
    }
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        throw UsageError(what + " is out of range: " + text);
    }
    return static_cast<int>(value);
}

double parseSeconds(const std::string& text, const std::string& what) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 ||
        std::isspace(static_cast<unsigned char>(text[0]))) {
        throw UsageError(what + " must be a number of seconds, not '" + text + "'");
    }
    return value;
}

}  // namespace tool
}  // namespace zumi
