// zumi policy: the bus's policy for the services, from one table of rules.

#include "Policy.h"

#include <sstream>

#include "Commands.h"

namespace zumi {
namespace tool {

namespace {

const char* const kPath = "/com/tessal/zumi";

// Every method a service answers on its object, and what calling it is. The
// bus cannot tell a hash-array read from a write (one method carries both),
// so it counts as a write: arrays published with libbramwickzumi are
// write-only on the bus anyway. A rule without a member covers its whole
// interface. A method added to the services' object gets its line here, and
// both the base policy and every `zumi policy` snippet follow. What any D-Bus
// client asks of any object (introspection, a ping) is Public: the base
// policy allows it to everyone and no service's snippet limits it.
//
// org.freedesktop.DBus.Properties is a meta-interface: allowed without a
// destination it would open every property of every program on the bus, not
// only ours. So its reads are never in the base policy; each service's own
// snippet allows them to its readers, naming the service.
enum class Kind { Public, Read, Write };
struct Rule {
    const char* interface;
    const char* member;  // nullptr: every member of the interface
    Kind kind;
    bool needsDestination;
};
const Rule kRules[] = {
    {"com.tessal.Zumi", "GetInt", Kind::Read, false},
    {"com.tessal.Zumi", "GetString", Kind::Read, false},
    {"com.tessal.Zumi", "List", Kind::Read, false},
    {"com.tessal.Zumi", "SetInt", Kind::Write, false},
    {"com.tessal.Zumi", "SetString", Kind::Write, false},
    {"com.tessal.Zumi", "AccessHash", Kind::Write, false},
    {"org.freedesktop.DBus.Properties", "Get", Kind::Read, true},
    {"org.freedesktop.DBus.Properties", "GetAll", Kind::Read, true},
    {"org.freedesktop.DBus.Properties", "Set", Kind::Write, true},
    {"org.freedesktop.DBus.Introspectable", nullptr, Kind::Public, false},
    {"org.freedesktop.DBus.Peer", nullptr, Kind::Public, false},
};
// The signal that carries a service's events.
const Rule kEvent = {"com.tessal.Zumi", "Event", Kind::Read, false};

// Which rules of a kind a list of <allow>/<deny> names.
enum class Which { All, NeedingDestination };

const char* const kHeader =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n";

// One <allow> or <deny> of the method calls of `kind`, to `destination`;
// with no destination (the base policy), only the rules that may go without.
void writeCalls(std::ostream& out, const char* verdict, Kind kind, const std::string& destination,
                Which which = Which::All) {
    for (const Rule& rule : kRules) {
        if (rule.kind != kind || (destination.empty() && rule.needsDestination)) continue;
        if (which == Which::NeedingDestination && !rule.needsDestination) continue;
        out << "    <" << verdict << " send_type=\"method_call\"";
        if (!destination.empty()) out << " send_destination=\"" << destination << "\"";
        out << " send_path=\"" << kPath << "\" send_interface=\"" << rule.interface << "\"";
        if (rule.member != nullptr) out << " send_member=\"" << rule.member << "\"";
        out << "/>\n";
    }
}

void writeEventRule(std::ostream& out, const char* direction) {
    out << "    <allow " << direction << "_type=\"signal\" " << direction << "_path=\"" << kPath << "\" "
        << direction << "_interface=\"" << kEvent.interface << "\" " << direction << "_member=\""
        << kEvent.member << "\"/>\n";
}

// What USER or root may do: own the name (and so serve it and send its
// events), write, and read when reads are limited.
void writeOwner(std::ostream& out, const std::string& user, const ServicePolicy& p) {
    out << "  <policy user=\"" << user << "\">\n";
    out << "    <allow own=\"" << p.service << "\"/>\n";
    writeEventRule(out, "send");
    writeCalls(out, "allow", Kind::Write, p.service);
    if (!p.readers.empty()) writeCalls(out, "allow", Kind::Read, p.service);
    out << "  </policy>\n";
}

// Names go into XML attributes and match the system's user and group names,
// which never hold these characters.
bool isPlainName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (c == '"' || c == '<' || c == '>' || c == '&' || c == '\'' || c <= ' ') return false;
    }
    return true;
}

// A name as an XML comment may hold it: "--" may not appear in one.
std::string inComment(std::string text) {
    for (size_t at; (at = text.find("--")) != std::string::npos;) text.insert(at + 1, " ");
    return text;
}

bool isServiceName(const std::string& name) {
    if (name.size() > 255 || name.find('.') == std::string::npos || name.front() == '.' ||
        name.back() == '.' || name.find("..") != std::string::npos) {
        return false;
    }
    for (char c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '_' && c != '-' && c != '.') return false;
    }
    return true;
}

int runPolicy(const Args& args, std::ostream& out, std::ostream&) {
    if (args.has("base")) {
        args.expectPositionals({}, 0);
        out << basePolicy();
        return EXIT_DONE;
    }
    args.expectPositionals({"SERVICE"}, 1);
    ServicePolicy policy{args.positionals()[0], args.value("owner"), args.values("writer"),
                         args.values("reader")};
    if (!isServiceName(policy.service)) throw UsageError("'" + policy.service + "' is not a bus name");
    if (!args.has("owner")) throw UsageError("missing --owner USER");
    for (const std::string& name : policy.writers) {
        if (!isPlainName(name)) throw UsageError("'" + name + "' is not a group name");
    }
    for (const std::string& name : policy.readers) {
        if (!isPlainName(name)) throw UsageError("'" + name + "' is not a group name");
    }
    if (!isPlainName(policy.owner)) throw UsageError("'" + policy.owner + "' is not a user name");
    out << servicePolicy(policy);
    return EXIT_DONE;
}

}  // namespace

std::string basePolicy() {
    std::ostringstream out;
    out << kHeader
        << "<!-- The base policy of the services built on libzumi, for a bus that denies\n"
           "     by default: every user may introspect and ping every service, read its\n"
           "     properties and listings and receive its events. Nothing else is opened:\n"
           "     owning a service's name, writing to it and reading it through\n"
           "     org.freedesktop.DBus.Properties (which only a rule naming the service\n"
           "     may allow), each service's own policy allows (zumi policy SERVICE).\n"
           "     This file is what 'zumi policy' prints with its base option.\n"
           "-->\n"
        << "<busconfig>\n"
        << "  <policy context=\"default\">\n";
    writeCalls(out, "allow", Kind::Public, "");
    writeCalls(out, "allow", Kind::Read, "");
    writeEventRule(out, "receive");
    out << "  </policy>\n"
        << "</busconfig>\n";
    return out.str();
}

std::string servicePolicy(const ServicePolicy& p) {
    std::ostringstream out;
    out << kHeader << "<!-- The bus's policy for " << inComment(p.service) << ", beside the base policy of libzumi\n"
        << "     (com.tessal.zumi.conf): only " << inComment(p.owner) << " and root may own it, and so serve it\n"
        << "     and send its events; writes are allowed to them"
        << (p.writers.empty() ? "" : " and to the writers' groups") << " only;\n"
        << "     " << (p.readers.empty() ? "every user may read it, also through Properties."
                               : "reads are limited to them and the readers' groups.")
        << "\n     Install it as /etc/dbus-1/system.d/" << inComment(p.service) << ".conf: the bus reads\n"
        << "     that directory after the base policy's, which limited reads need. -->\n"
        << "<busconfig>\n";
    writeOwner(out, p.owner, p);
    if (p.owner != "root") writeOwner(out, "root", p);
    for (const std::string& group : p.writers) {
        out << "  <policy group=\"" << group << "\">\n";
        writeCalls(out, "allow", Kind::Write, p.service);
        if (!p.readers.empty()) writeCalls(out, "allow", Kind::Read, p.service);
        out << "  </policy>\n";
    }
    if (p.readers.empty()) {
        // The reads the base policy cannot name.
        out << "  <policy context=\"default\">\n";
        writeCalls(out, "allow", Kind::Read, p.service, Which::NeedingDestination);
        out << "  </policy>\n";
    } else {
        // Group and user policies apply after the default ones, so these
        // open again what this closes.
        out << "  <policy context=\"default\">\n";
        writeCalls(out, "deny", Kind::Read, p.service);
        out << "  </policy>\n";
        for (const std::string& group : p.readers) {
            out << "  <policy group=\"" << group << "\">\n";
            writeCalls(out, "allow", Kind::Read, p.service);
            out << "  </policy>\n";
        }
    }
    out << "</busconfig>\n";
    return out.str();
}

const Command& policyCommand() {
    static const Command command{
        "policy", "print the bus's policy for a service",
        "Usage: zumi policy SERVICE [--owner USER] [--writer GROUP]... [--reader GROUP]...\n"
        "       zumi policy --base\n"
        "\n"
        "Prints a complete <busconfig> for SERVICE on a bus that denies by default,\n"
        "as the system bus does, to install as /etc/dbus-1/system.d/SERVICE.conf\n"
        "beside the base policy (share/dbus-1/system.d/com.tessal.zumi.conf, which\n"
        "lets every user introspect and ping every service, read it and receive its\n"
        "events): only USER and root may own SERVICE, and so serve it and send its\n"
        "events; writes of integers, strings and hash arrays, and Properties.Set, are\n"
        "allowed to USER, root and the writers' groups only. Properties.Get and\n"
        "GetAll, which the base policy cannot allow (a rule must name the service),\n"
        "are allowed here to every user. With --reader, reads (listings and\n"
        "Properties.Get and GetAll too) are limited to the readers' groups, the\n"
        "writers' groups, USER and root; introspection and Peer stay open to\n"
        "everyone. A hash-array read counts as a write: the bus cannot tell them\n"
        "apart.\n"
        "\n"
        "Options:\n"
        "  --owner USER    the user that runs the service (required)\n"
        "  --writer GROUP  a group whose members may write (repeatable)\n"
        "  --reader GROUP  a group whose members may read (repeatable)\n"
        "  --base          print the base policy instead\n"
        "  -h, --help      show this help\n",
        {{"owner", true}, {"writer", true}, {"reader", true}, {"base", false}}, runPolicy};
    return command;
}

}  // namespace tool
}  // namespace zumi
