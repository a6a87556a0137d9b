// zumi chart's lifelines: which parties share one, and their order.

#include <ctype.h>

#include <algorithm>
#include <map>
#include <queue>
#include <tuple>

#include "ChartModel.h"

namespace zumi {
namespace tool {

namespace {

// What a caller that owns no service shares a lifeline by: its program
// ("zumi" for "zumi[42]"; "pid" when the program was not known), ":" for a
// connection known only by its bus name; "" for a party that keeps its own.
std::string programOf(const std::string& name) {
    if (name.size() > 1 && name[0] == ':') return ":";
    if (name.size() < 3 || name.back() != ']') return "";
    const size_t open = name.rfind('[');
    if (open == std::string::npos || open == 0 || open + 2 >= name.size()) return "";
    for (size_t i = open + 1; i + 1 < name.size(); ++i) {
        if (!isdigit(static_cast<unsigned char>(name[i]))) return "";
    }
    return name.substr(0, open);
}

std::string sharedName(const std::string& program, size_t count) {
    if (program == ":") return "unnamed (" + std::to_string(count) + " connections)";
    return (program == "pid" ? std::string("unknown") : program) + " (" + std::to_string(count) + " processes)";
}

// One lifeline: the parties it stands for, the calls it exchanges with each
// other lifeline.
struct Lane {
    std::string name;
    std::vector<int> parties;
    std::map<int, long> calls;
    long total = 0;
};

std::vector<Lane> lanesOf(const std::vector<std::string>& parties, const std::vector<ChartItem>& items,
                          bool perProcess, std::vector<int>* laneOfParty) {
    std::vector<bool> service(parties.size(), false);
    for (const ChartItem& item : items) {
        if (item.to >= 0) service[static_cast<size_t>(item.to)] = true;
    }
    std::vector<Lane> lanes;
    std::map<std::string, int> byProgram;
    laneOfParty->assign(parties.size(), -1);
    for (size_t party = 0; party < parties.size(); ++party) {
        const std::string program = service[party] || perProcess ? "" : programOf(parties[party]);
        int lane = static_cast<int>(lanes.size());
        if (!program.empty()) {
            auto found = byProgram.emplace(program, lane);
            lane = found.first->second;
        }
        if (lane == static_cast<int>(lanes.size())) lanes.push_back({parties[party], {}, {}, 0});
        lanes[static_cast<size_t>(lane)].parties.push_back(static_cast<int>(party));
        (*laneOfParty)[party] = lane;
    }
    for (const auto& program : byProgram) {
        Lane& lane = lanes[static_cast<size_t>(program.second)];
        if (lane.parties.size() > 1) lane.name = sharedName(program.first, lane.parties.size());
    }
    for (const ChartItem& item : items) {
        const bool call = item.op->isPropertyCall() || item.op->kind == Operation::List;
        if (item.from < 0 || item.to < 0 || !call) continue;
        const int a = (*laneOfParty)[static_cast<size_t>(item.from)], b = (*laneOfParty)[static_cast<size_t>(item.to)];
        if (a == b) continue;
        ++lanes[static_cast<size_t>(a)].calls[b];
        ++lanes[static_cast<size_t>(b)].calls[a];
        ++lanes[static_cast<size_t>(a)].total;
        ++lanes[static_cast<size_t>(b)].total;
    }
    return lanes;
}

// Places the lanes one by one (see ChartModel.h): positions grow both ways
// from the first, so that a newcomer can join either end.
std::vector<int> order(const std::vector<Lane>& lanes) {
    const int count = static_cast<int>(lanes.size());
    std::vector<long> attached(lanes.size(), 0);
    std::vector<long> position(lanes.size(), 0);
    std::vector<bool> placed(lanes.size(), false);
    long left = 0, right = -1;
    // Most calls to those placed, then busiest, then first to take part.
    using Candidate = std::tuple<long, long, int>;
    std::priority_queue<Candidate> waiting;
    for (int lane = 0; lane < count; ++lane) {
        if (lanes[static_cast<size_t>(lane)].total > 0) waiting.emplace(0, lanes[static_cast<size_t>(lane)].total, -lane);
    }
    while (!waiting.empty()) {
        const int lane = -std::get<2>(waiting.top());
        const long attachment = std::get<0>(waiting.top());
        waiting.pop();
        const size_t at = static_cast<size_t>(lane);
        if (placed[at] || attachment != attached[at]) continue;  // placed, or queued again since
        long costLeft = 0, costRight = 0;
        for (const auto& call : lanes[at].calls) {
            const size_t other = static_cast<size_t>(call.first);
            if (!placed[other]) continue;
            costLeft += call.second * (position[other] - (left - 1));
            costRight += call.second * (right + 1 - position[other]);
        }
        const bool first = right < left;
        position[at] = first ? (right = left = 0) : costLeft < costRight ? --left : ++right;
        placed[at] = true;
        for (const auto& call : lanes[at].calls) {
            const size_t other = static_cast<size_t>(call.first);
            if (placed[other]) continue;
            attached[other] += call.second;
            waiting.emplace(attached[other], lanes[other].total, -call.first);
        }
    }
    std::vector<std::pair<long, int>> sorted;
    for (int lane = 0; lane < count; ++lane) {
        // Those without calls after the rest, in the order they take part.
        const size_t at = static_cast<size_t>(lane);
        sorted.emplace_back(placed[at] ? position[at] : right + 1 + lane, lane);
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> lanesInOrder;
    for (const auto& entry : sorted) lanesInOrder.push_back(entry.second);
    return lanesInOrder;
}

}  // namespace

std::string laneTitle(const std::string& name, size_t most) {
    if (name.size() <= most) return name;
    auto cut = [](const std::string& text, size_t at) {  // at a character's start
        while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
        return at;
    };
    auto endsWith = [&name](const std::string& end) {
        return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    const size_t open = name.rfind(" (");
    const bool shared = open != std::string::npos && (endsWith(" processes)") || endsWith(" connections)"));
    if (!shared) return "…" + name.substr(cut(name, name.size() - most + 1));
    const std::string program = name.substr(0, open);
    const std::string count = " (" + name.substr(open + 2, name.find(' ', open + 2) - open - 2) + ")";
    if (program.size() + count.size() <= most) return program + count;
    return program.substr(0, cut(program, most > count.size() + 1 ? most - count.size() - 1 : 1)) + "…" + count;
}

LaneLayout layLanes(const std::vector<std::string>& parties, const std::vector<ChartItem>& items, bool perProcess) {
    std::vector<int> laneOfParty;
    const std::vector<Lane> lanes = lanesOf(parties, items, perProcess, &laneOfParty);
    const std::vector<int> lanesInOrder = order(lanes);
    std::vector<int> column(lanes.size(), -1);
    LaneLayout layout;
    for (int lane : lanesInOrder) {
        column[static_cast<size_t>(lane)] = static_cast<int>(layout.names.size());
        layout.names.push_back(lanes[static_cast<size_t>(lane)].name);
    }
    for (int lane : laneOfParty) layout.of.push_back(column[static_cast<size_t>(lane)]);
    return layout;
}

}  // namespace tool
}  // namespace zumi
