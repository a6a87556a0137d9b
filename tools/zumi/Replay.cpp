// zumi replay: plays a recording back on the bus. It serves the recorded
// services' properties with their recorded values, accepting and applying
// sets, and sends the recorded events with their timing; recorded values
// that later reads and writes saw are taken at their time too.
//
// Threads: the main thread walks the timeline; the bus library's dispatch
// threads run the property callbacks. They share each property's value under
// the property's own mutex, which is held only to copy a value.

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>

#include "Commands.h"
#include "Recording.h"
#include "Watch.h"

namespace zumi {
namespace tool {

namespace {

struct Value {
    int number = 0;
    std::string text;
    HashList hashes;
};

struct Served {
    std::mutex lock;
    PropertyType type = PropertyType::Int;
    bool readable = true;
    bool writable = true;
    Value value;
    Value initial;
};

Value valueOf(const Operation& op) { return Value{op.number, op.text, op.hashes}; }

// Bus callbacks: thin, and nothing escapes into the bus library.
template <typename Work>
unsigned int guarded(void* data, Work work) {
    try {
        Served& served = *static_cast<Served*>(data);
        std::lock_guard<std::mutex> lock(served.lock);
        return work(served);
    } catch (...) {
        return ZUMI_ERR_SERVICE_FAILED;
    }
}

unsigned int getInt(ZumiHandle, const char*, int* value, void* data) {
    return guarded(data, [&](Served& s) { *value = s.value.number; return 0u; });
}
unsigned int setInt(ZumiHandle, const char*, int value, void* data) {
    return guarded(data, [&](Served& s) { s.value.number = value; return 0u; });
}
unsigned int getText(ZumiHandle, const char*, char* buffer, unsigned int* size, void* data) {
    return guarded(data, [&](Served& s) -> unsigned int {
        const size_t need = s.value.text.size() + 1;
        if (*size < need) {
            *size = static_cast<unsigned int>(need);
            return ZUMI_ERR_BUFFER_TOO_SMALL;
        }
        memcpy(buffer, s.value.text.c_str(), need);
        return ZUMI_OK;
    });
}
unsigned int setText(ZumiHandle, const char*, const char* value, void* data) {
    return guarded(data, [&](Served& s) { s.value.text = value; return 0u; });
}
unsigned int access(ZumiHandle, const char*, ZumiHasharrayHandleStruct* input,
                    ZumiHasharrayHandleStruct* output, void* data) {
    return guarded(data, [&](Served& s) -> unsigned int {
        if (!(input != nullptr ? s.writable : s.readable)) return ZUMI_ERR_ACCESS_DENIED;
        if (input != nullptr) {
            s.value.hashes = readHashArray(input);
            return ZUMI_OK;
        }
        return fillHashArray(output, s.value.hashes);
    });
}

class Replay {
public:
    Replay(const std::vector<Operation>& recording, const std::set<std::string>& only);
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    void serve(std::ostream& err);
    // speed 0: as fast as possible. False when a stop was asked for.
    bool play(double speed, std::ostream& err);

private:
    struct Step {
        double offset;
        const Operation* op;
        Served* property;  // a value to take, or null for an event to send
    };

    bool wanted(const std::string& service, const std::string& name) const {
        return m_only.empty() || m_only.count(service) != 0 || m_only.count(name) != 0;
    }
    Served* property(const Operation& op);

    std::set<std::string> m_only;
    std::map<std::string, ZumiHandle> m_services;
    std::map<std::pair<std::string, std::string>, std::unique_ptr<Served>> m_properties;
    std::vector<Step> m_steps;
};

Replay::Replay(const std::vector<Operation>& recording, const std::set<std::string>& only) : m_only(only) {
    for (const Operation& op : recording) {
        if (op.kind == Operation::Event && !op.spoofed && wanted(op.service, op.name)) {
            m_services[op.service] = nullptr;
            m_steps.push_back(Step{op.offset, &op, nullptr});
        }
        Served* served = property(op);
        const bool taken = op.hasValue && op.status == ZUMI_OK;
        if (served != nullptr && taken && op.kind != Operation::Property) {
            m_steps.push_back(Step{op.offset, &op, served});
        }
    }
    std::stable_sort(m_steps.begin(), m_steps.end(),
                     [](const Step& a, const Step& b) { return a.offset < b.offset; });
}

// The property an operation names, made known with its first value; null
// when it is not one to serve or its type contradicts what came first.
Served* Replay::property(const Operation& op) {
    if (op.kind != Operation::Property && !op.isPropertyCall()) return nullptr;
    if (!wanted(op.service, op.name)) return nullptr;
    std::unique_ptr<Served>& served = m_properties[{op.service, op.name}];
    if (!served) {
        if (op.kind != Operation::Property && op.status != ZUMI_OK) {
            m_properties.erase({op.service, op.name});  // refused: perhaps no such property
            return nullptr;
        }
        served.reset(new Served());
        served->type = op.type;
        served->readable = op.readable;
        served->writable = op.writable;
        if (op.hasValue && op.status == ZUMI_OK) served->initial = served->value = valueOf(op);
        m_services[op.service] = nullptr;
    }
    return served->type == op.type ? served.get() : nullptr;
}

void Replay::serve(std::ostream& err) {
    for (auto& service : m_services) {
        ZumiStatus status = ZUMI_OK;
        service.second = ZumiOpenEx(service.first.c_str(), &status);
        if (service.second == nullptr) {
            throwBusFailure("Could not serve the recorded service.", {{"service", service.first}}, status);
        }
    }
    for (auto& entry : m_properties) {
        Served& s = *entry.second;
        ZumiHandle handle = m_services.at(entry.first.first);
        const char* name = entry.first.second.c_str();
        ZumiStatus status =
            s.type == PropertyType::Int ? ZumiRegisterIntProperty(handle, name, s.readable ? getInt : nullptr,
                                                                  s.writable ? setInt : nullptr, &s)
            : s.type == PropertyType::String
                ? ZumiRegisterStringProperty(handle, name, s.readable ? getText : nullptr,
                                             s.writable ? setText : nullptr, &s)
                : ZumiRegisterHasharrayProperty(handle, name, access, &s);
        if (status != ZUMI_OK) {
            throwBusFailure("Could not serve the recorded property.",
                            {{"service", entry.first.first}, {"property", name}}, status);
        }
    }
    err << "zumi replay: serving " << m_services.size() << " services, " << m_properties.size()
        << " properties; " << m_steps.size() << " steps to play" << std::endl;
}

bool Replay::play(double speed, std::ostream& err) {
    for (auto& entry : m_properties) {
        std::lock_guard<std::mutex> lock(entry.second->lock);
        entry.second->value = entry.second->initial;
    }
    const double start = monotonicSeconds();
    for (const Step& step : m_steps) {
        if (speed > 0) {
            const double wait = start + step.offset / speed - monotonicSeconds();
            if (wait > 0 && !StopSignals::sleep(wait)) return false;
        }
        if (StopSignals::requested()) return false;
        if (step.property != nullptr) {
            std::lock_guard<std::mutex> lock(step.property->lock);
            step.property->value = valueOf(*step.op);
            continue;
        }
        try {
            sendEventWithParams(m_services.at(step.op->service), step.op->name, step.op->ints, step.op->strings);
        } catch (const std::exception& e) {
            err << "zumi replay: " << e.what() << std::endl;
        }
    }
    return true;
}

Replay::~Replay() {
    for (auto& service : m_services) {
        if (service.second != nullptr) ZumiClose(service.second);
    }
}

int runReplay(const Args& args, std::ostream&, std::ostream& err) {
    args.expectPositionals({"FILE"}, 1);
    if (args.has("fast") && args.has("speed")) throw UsageError("give --speed or --fast, not both");
    double speed = 1;
    if (args.has("speed")) {
        speed = parseSeconds(args.value("speed"), "--speed");
        if (speed <= 0) throw UsageError("--speed must be more than 0");
    }
    if (args.has("fast")) speed = 0;
    std::vector<std::string> names = args.values("only");
    for (const std::string& name : names) {
        if (name.empty()) throw UsageError("--only needs a name");
    }
    const std::string& path = args.positionals()[0];
    std::ifstream file(path);
    if (!file) throw std::runtime_error("cannot read " + path + ": " + strerror(errno));
    const std::vector<Operation> recording = readRecording(file, path);
    StopSignals signals;
    Replay replay(recording, std::set<std::string>(names.begin(), names.end()));
    replay.serve(err);
    do {
        if (!replay.play(speed, err)) return 0;
    } while (args.has("loop"));
    err << "zumi replay: end of recording" << std::endl;
    if (!args.has("quit")) {
        while (StopSignals::sleep(3600)) {
        }
    }
    return 0;
}

}  // namespace

const Command& replayCommand() {
    static const Command command{
        "replay", "play a recording back on the bus",
        "Usage: zumi replay [--speed FACTOR | --fast] [--loop] [--quit] [--only NAME]... FILE\n"
        "\n"
        "Plays back FILE, a recording made by zumi record (or any file in its\n"
        "format, docs/recording-format.md). It serves the recorded services'\n"
        "properties with their recorded values and access, accepting and applying\n"
        "sets, and takes the values that recorded reads and writes saw at their\n"
        "time. It sends the recorded events, with their parameters, under their\n"
        "source's name at their recorded times; events marked spoofed are not\n"
        "sent. The recorded services must not be on the bus already. After the\n"
        "last event it keeps serving until interrupted (SIGINT or SIGTERM, exit\n"
        "status 0); notes on stderr say when it serves and when the end came.\n"
        "\n"
        "Options:\n"
        "  --speed FACTOR    play FACTOR times as fast (0.5: half as fast; default 1)\n"
        "  --fast            play as fast as possible\n"
        "  --loop            start again from the recorded values after the end\n"
        "  --quit            exit after the last event instead of serving on\n"
        "  --only NAME       only the services, properties and events called NAME;\n"
        "                    may be given several times\n"
        "  -h, --help        show this help\n",
        {{"speed", true}, {"fast", false}, {"loop", false}, {"quit", false}, {"only", true}},
        runReplay};
    return command;
}

}  // namespace tool
}  // namespace zumi
