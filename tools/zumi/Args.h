#ifndef ZUMI_TOOLS_ARGS_H
#define ZUMI_TOOLS_ARGS_H

// Command-line parsing shared by every subcommand. An argument is an option
// only when it starts with "--" (or is "-h", or the short name that an option
// declares, such as "-o"), so negative numbers such as "-5" stay values; "--name=value" and "--name value" are the same; "--"
// ends the options. Every mistake is a UsageError whose text is one line
// that the command prints before exiting with status 2.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zumi {
namespace tool {

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

struct OptionSpec {
    std::string name;  // without the leading "--"
    bool takesValue;
    char shortName = 0;  // "-o" stands for the option when 'o'
};

class Args {
public:
    // Parses argv[0..]; "--help" and "-h" are always accepted.
    Args(const std::vector<std::string>& argv, const std::vector<OptionSpec>& options);

    bool helpWanted() const { return m_help; }
    bool has(const std::string& name) const { return m_values.count(name) != 0; }
    // The last value given for the option, or fallback when it was not given.
    std::string value(const std::string& name, const std::string& fallback = "") const;
    // Every value given for the option, in command-line order.
    std::vector<std::string> values(const std::string& name) const;
    const std::vector<std::string>& positionals() const { return m_positionals; }

    // Throws UsageError unless there are between min and max positionals;
    // names are the placeholders used in the message ("SERVICE", ...).
    void expectPositionals(const std::vector<std::string>& names, size_t min) const;

private:
    bool m_help = false;
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_positionals;
};

// Whole-string conversions; what names the argument in the error message.
int parseInt(const std::string& text, const std::string& what);
// A non-negative number of seconds, fractions allowed ("0.5").
double parseSeconds(const std::string& text, const std::string& what);

}  // namespace tool
}  // namespace zumi

#endif
