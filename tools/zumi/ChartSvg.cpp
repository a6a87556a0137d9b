// The SVG picture: the whole recording at the opening scale, the figures and
// the plot to its right. Every operation carries its record as a <title>,
// which viewers show on hover.

#include <algorithm>
#include <cmath>
#include <sstream>

#include "Chart.h"

namespace zumi {
namespace tool {

namespace {

constexpr double LANE_WIDTH = 190, GUTTER = 80, TOP = 100, LABEL_GAP = 12, BIN = 4;
constexpr int SIDE_WIDTH = 620;

class Picture {
public:
    explicit Picture(const ChartModel& model) : m(model) {}

    void write(std::ostream& out) {
        const double diagramWidth =
            GUTTER + LANE_WIDTH * static_cast<double>(std::max<size_t>(1, m.lanes.names.size()));
        m_width = diagramWidth;
        const double height = TOP + m.span() * m.pixelsPerSecond + 40;
        const double sideHeight = TOP + 40 + 20.0 * static_cast<double>(m.figures.size()) + 260;
        const double width = diagramWidth + 40 + SIDE_WIDTH;
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"zumi-chart\" width=\"" << width << "\" height=\""
            << std::max(height, sideHeight) << "\" font-family=\"sans-serif\" font-size=\"12\">\n<style>"
            << DIAGRAM_CSS << "</style>\n"
            << "<rect class=\"page\" width=\"100%\" height=\"100%\"/>\n"
            << "<text class=\"title\" x=\"10\" y=\"26\">zumi chart</text>\n"
            << "<text class=\"heading\" x=\"10\" y=\"48\">" << xmlText(chartHeading(m)) << "</text>\n";
        axis(out);
        lanes(out, TOP + m.span() * m.pixelsPerSecond);
        if (m.items.size() > SVG_MOST_ARROWS) {
            out << "<text class=\"note\" x=\"10\" y=\"66\">" << m.items.size()
                << " operations: too many to draw one by one, drawn as how many start in each " << BIN
                << " px of time on each lifeline (red: refused); zumi chart -o FILE.html zooms in to each one</text>\n";
            aggregated(out);
        } else {
            for (size_t i = 0; i < m.items.size(); ++i) {
                item(out, m.items[i], i + 1 < m.items.size() ? &m.items[i + 1] : nullptr);
            }
        }
        side(out, diagramWidth + 40);
        out << "</svg>\n";
    }

private:
    double x(int lane) const { return GUTTER + LANE_WIDTH * (lane + 0.5); }
    double y(double t) const { return TOP + (t - m.first) * m.pixelsPerSecond; }

    void axis(std::ostream& out) {
        double step = 1e-6;
        for (double candidate = 1e-6; candidate < 1e6; candidate *= 10) {
            step = candidate;
            if (candidate * m.pixelsPerSecond >= 60) break;
            if (candidate * 2 * m.pixelsPerSecond >= 60) { step = candidate * 2; break; }
            if (candidate * 5 * m.pixelsPerSecond >= 60) { step = candidate * 5; break; }
        }
        // Each tick from its own multiple: a sum of steps drifts ("1e+03 ms").
        for (double k = std::ceil(m.first / step), t = k * step; t <= m.last + 1e-12; t = ++k * step) {
            out << "<g class=\"tick\"><line x1=\"" << GUTTER - 6 << "\" x2=\"" << GUTTER << "\" y1=\"" << y(t)
                << "\" y2=\"" << y(t) << "\"/><text x=\"" << GUTTER - 8 << "\" y=\"" << y(t) + 4
                << "\" text-anchor=\"end\">" << xmlText(durationText(t)) << "</text></g>\n";
        }
    }

    void lanes(std::ostream& out, double bottom) {
        for (size_t i = 0; i < m.lanes.names.size(); ++i) {
            const double lx = x(static_cast<int>(i));
            const std::string name = laneTitle(m.lanes.names[i], 28);
            out << "<g class=\"lane\"><title>" << xmlText(m.lanes.names[i]) << "</title><rect x=\"" << lx - LANE_WIDTH / 2 + 6
                << "\" y=\"" << TOP - 26 << "\" width=\"" << LANE_WIDTH - 12 << "\" height=\"20\" rx=\"4\"/>"
                << "<text x=\"" << lx << "\" y=\"" << TOP - 12 << "\" text-anchor=\"middle\">" << xmlText(name)
                << "</text><line x1=\"" << lx << "\" x2=\"" << lx << "\" y1=\"" << TOP - 6 << "\" y2=\"" << bottom
                << "\"/></g>\n";
        }
    }

    std::string classes(const ChartItem& item) {
        static const char* const names[] = {"get", "set", "list", "event", "up", "down", "property"};
        std::string text = std::string("op ") + names[item.op->kind];
        if (item.op->status != ZUMI_OK) text += " refused";
        if (item.op->spoofed) text += " spoofed";
        return text;
    }

    static bool alarming(const ChartItem& item) { return item.op->status != ZUMI_OK || item.op->spoofed; }

    // Where labels would overlap, the arrow stays and its record is in its
    // title. A refusal's label is always shown, below the one before and its
    // arrow if need be, and the label just before it gives way. A label starts at left,
    // else ends at otherRight, whichever keeps it in the diagram, else as
    // near left as fits.
    void label(std::ostream& out, const ChartItem& item, double ly, double left, double otherRight) {
        if (!alarming(item) && m_next != nullptr && alarming(*m_next) && y(m_next->start) - ly < LABEL_GAP) return;
        if (ly - m_lastLabel < LABEL_GAP) {
            if (!alarming(item)) return;
            ly = std::max(m_lastLabel + LABEL_GAP, ly + 15);  // wholly below its arrow
        }
        m_lastLabel = ly;
        const std::string text = itemLabel(item);
        const double width = labelWidth(text);
        out << "<text x=\"" << labelLeft(width, left, otherRight - width, GUTTER, m_width - 4) << "\" y=\"" << ly
            << "\">" << xmlText(text) << "</text>";
    }

    void item(std::ostream& out, const ChartItem& item, const ChartItem* next) {
        m_next = next;
        const Operation& op = *item.op;
        out << "<g class=\"" << classes(item) << "\"><title>" << xmlText(dumpLine(toJson(op, true))) << "</title>";
        const double top = y(item.start), bottom = std::max(y(item.end), top + 2);
        if (op.kind == Operation::Event) {
            const double ox = x(m.lane(item.origin()));
            const double left = x(0), right = x(static_cast<int>(m.lanes.names.size()) - 1);
            out << "<line class=\"broadcast\" x1=\"" << left << "\" x2=\"" << right << "\" y1=\"" << top << "\" y2=\""
                << top << "\"/><circle cx=\"" << ox << "\" cy=\"" << top << "\" r=\"4\"/>";
            label(out, item, top - 3, ox + 7, ox - 7);
        } else if (op.kind == Operation::ServiceUp || op.kind == Operation::ServiceDown) {
            const double sx = x(m.lane(item.to));
            out << "<rect x=\"" << sx - 5 << "\" y=\"" << top - 5 << "\" width=\"10\" height=\"10\"/>";
            // "up" and "down" give way to what the service then does.
            if (next == nullptr || y(next->start) - top >= LABEL_GAP) label(out, item, top + 4, sx + 8, sx - 8);
        } else {
            const double from = x(m.lane(item.from)), to = x(m.lane(item.to));
            const double direction = to >= from ? 1 : -1;
            out << "<rect class=\"active\" x=\"" << to - 3 << "\" y=\"" << top << "\" width=\"6\" height=\""
                << bottom - top << "\"/>";
            if (from == to) {
                out << "<path d=\"M" << from << "," << top << " h30 v" << bottom - top + 4 << " h-26\"/>";
                label(out, item, top - 3, from + 36, from - 6);
            } else {
                const double tip = to - direction * 3;
                out << "<line x1=\"" << from << "\" y1=\"" << top << "\" x2=\"" << tip << "\" y2=\"" << top
                    << "\"/><polygon points=\"" << tip << "," << top << " " << tip - direction * 8 << ","
                    << top - 4 << " " << tip - direction * 8 << "," << top + 4 << "\"/>";
                if (bottom - top >= 4) {
                    out << "<line class=\"reply\" x1=\"" << to << "\" y1=\"" << bottom << "\" x2=\"" << from
                        << "\" y2=\"" << bottom << "\"/>";
                }
                // Along the arrow, about its middle.
                const double middle = (from + to) / 2, width = labelWidth(itemLabel(item));
                label(out, item, top - 3, middle - width / 2, middle + width / 2);
            }
        }
        out << "</g>\n";
    }

    // How many operations start in each BIN pixels on each lifeline: a bar
    // as wide as its share of the busiest bin.
    void aggregated(std::ostream& out) {
        const size_t rows = static_cast<size_t>(m.span() * m.pixelsPerSecond / BIN) + 1;
        std::vector<std::vector<long>> all(m.lanes.names.size(), std::vector<long>(rows, 0)), refused = all;
        long most = 1;
        // On each lifeline that takes part: an event's origin, a call's
        // service and its caller.
        for (const ChartItem& item : m.items) {
            const int lane = m.lane(item.op->kind == Operation::Event ? item.origin() : item.to);
            const bool call = item.op->isPropertyCall() || item.op->kind == Operation::List;
            const int caller = call ? m.lane(item.from) : -1;
            const size_t row = std::min(rows - 1, static_cast<size_t>((y(item.start) - TOP) / BIN));
            for (const int at : {lane, caller == lane ? -1 : caller}) {
                if (at < 0) continue;
                most = std::max(most, ++all[static_cast<size_t>(at)][row]);
                if (alarming(item)) ++refused[static_cast<size_t>(at)][row];
            }
        }
        for (size_t lane = 0; lane < all.size(); ++lane) {
            for (size_t row = 0; row < rows; ++row) {
                if (all[lane][row] == 0) continue;
                const double w = (LANE_WIDTH - 20) * static_cast<double>(all[lane][row]) / static_cast<double>(most);
                const double wr = w * static_cast<double>(refused[lane][row]) / static_cast<double>(all[lane][row]);
                const double top = TOP + static_cast<double>(row) * BIN;
                out << "<g class=\"bin\"><title>" << all[lane][row] << " operations (" << refused[lane][row]
                    << " refused or spoofed)</title><rect x=\"" << x(static_cast<int>(lane)) - w / 2 << "\" y=\"" << top
                    << "\" width=\"" << w << "\" height=\"" << BIN << "\"/>";
                if (wr > 0) {
                    out << "<rect class=\"refused\" x=\"" << x(static_cast<int>(lane)) - w / 2 << "\" y=\"" << top
                        << "\" width=\"" << wr << "\" height=\"" << BIN << "\"/>";
                }
                out << "</g>\n";
            }
        }
    }

    void side(std::ostream& out, double left) {
        out << "<g class=\"figures\"><text class=\"subtitle\" x=\"" << left << "\" y=\"" << TOP - 12
            << "\">Per property and event</text>\n";
        const double columns[] = {0, 250, 320, 380, 440, 500, 560};
        const char* const heads[] = {"service / name", "count", "per s", "p50", "p99", "max", "errors"};
        double row = TOP + 8;
        for (size_t c = 0; c < 7; ++c) {
            out << "<text class=\"head\" x=\"" << left + columns[c] << "\" y=\"" << row << "\">" << heads[c]
                << "</text>";
        }
        for (const Stats::Summary& figure : m.figures) {
            row += 20;
            char rate[32];
            snprintf(rate, sizeof rate, "%.2f", m.span() > 0 ? static_cast<double>(figure.calls) / m.span() : 0.0);
            std::string name = figure.service + (figure.isEvent ? " event " : " ") + figure.name;
            if (name.size() > 40) name = "…" + name.substr(name.size() - 39);
            const std::string cells[] = {name, std::to_string(figure.calls), rate, millisecondsText(figure.p50),
                                         millisecondsText(figure.p99), millisecondsText(figure.max),
                                         std::to_string(figure.errors)};
            out << "<g class=\"" << (figure.errors > 0 ? "row errors" : "row") << "\">";
            for (size_t c = 0; c < 7; ++c) {
                out << "<text x=\"" << left + columns[c] << "\" y=\"" << row << "\">" << xmlText(cells[c]) << "</text>";
            }
            out << "</g>\n";
        }
        out << "<text class=\"note\" x=\"" << left << "\" y=\"" << row + 20 << "\">" << xmlText(figuresNote(m))
            << "</text></g>\n";
        out << "<text class=\"subtitle\" x=\"" << left << "\" y=\"" << row + 56
            << "\">Calls and events per second</text>\n"
            << "<g transform=\"translate(" << left << "," << row + 64 << ")\">" << rateSvg(m, SIDE_WIDTH - 20, 180)
            << "</g>\n";
    }

    const ChartModel& m;
    double m_width = 0;
    const ChartItem* m_next = nullptr;  // the operation after the one drawn
    double m_lastLabel = -1e9;
};

}  // namespace

void writeChartSvg(const ChartModel& model, std::ostream& out) { Picture(model).write(out); }

}  // namespace tool
}  // namespace zumi
