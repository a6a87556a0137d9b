// What the HTML page and the SVG picture share: escaping, the heading, the
// plot of calls and events per second, choosing the output.

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include <glib.h>

#include "Chart.h"

namespace zumi {
namespace tool {

namespace {

std::string number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string rateText(double perSecond) {
    char text[32];
    snprintf(text, sizeof text, perSecond >= 100 ? "%.0f/s" : "%.3g/s", perSecond);
    return text;
}

std::string polyline(const std::vector<double>& values, double top, double scale, double left, double step,
                     double height, const char* cssClass) {
    std::string points;
    for (size_t i = 0; i < values.size(); ++i) {
        const double x = left + step * (static_cast<double>(i) + 0.5);
        points += number(x) + "," + number(top + height - values[i] * scale) + " ";
    }
    return "<polyline class=\"" + std::string(cssClass) + "\" points=\"" + points + "\"/>";
}

}  // namespace

std::string xmlText(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string escaped;
    for (const char* p = valid; *p != '\0'; ++p) {
        switch (*p) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default:
                // XML has no place for the other control characters, not even escaped.
                if (static_cast<unsigned char>(*p) < 0x20 && *p != '\t' && *p != '\n' && *p != '\r') {
                    escaped += "\xEF\xBF\xBD";
                } else {
                    escaped += *p;
                }
        }
    }
    g_free(valid);
    return escaped;
}

double labelWidth(const std::string& text) {
    double characters = 0;
    for (unsigned char byte : text) characters += (byte & 0xC0) != 0x80 ? 1 : 0;
    return characters * 6.2;
}

double labelLeft(double width, double left, double otherLeft, double low, double high) {
    if (left >= low && left + width <= high) return left;
    if (otherLeft >= low && otherLeft + width <= high) return otherLeft;
    return std::max(low, std::min(left, high - width));
}

std::string chartHeading(const ChartModel& model) {
    std::string started = model.started.empty() ? "at an unknown time" : model.started;
    return "Recording started " + started + ", spanning " + durationText(model.last) + " (traffic from " +
           durationText(model.first) + "): " +
           std::to_string(model.calls) + " calls (" + std::to_string(model.refusals) + " refused), " +
           std::to_string(model.events) + " events, " + std::to_string(model.lanes.names.size()) + " lifelines";
}

std::string figuresNote(const ChartModel& model) {
    return "per second over the recording's " + durationText(model.span()) +
           "; latencies of answered calls in ms; errors: refusals, no answer, spoofed";
}

std::string rateSvg(const ChartModel& model, int width, int height) {
    const RateSeries& rates = model.rates;
    double most = 1;
    for (double value : rates.calls) most = std::max(most, value);
    for (double value : rates.events) most = std::max(most, value);
    const double left = 54, top = 10, plotWidth = width - left - 10, plotHeight = height - top - 34;
    const double step = plotWidth / static_cast<double>(std::max<size_t>(1, rates.calls.size()));
    const double scale = plotHeight / most;
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"rates\" width=\"" << width << "\" height=\""
        << height << "\" viewBox=\"0 0 " << width << " " << height << "\" data-first=\"" << model.first
        << "\" data-bucket=\"" << rates.bucket << "\">";
    svg << "<rect class=\"plot\" x=\"" << left << "\" y=\"" << top << "\" width=\"" << plotWidth << "\" height=\""
        << plotHeight << "\"/>";
    svg << "<text class=\"axis\" x=\"" << left - 4 << "\" y=\"" << top + 8 << "\" text-anchor=\"end\">"
        << rateText(most) << "</text>";
    svg << "<text class=\"axis\" x=\"" << left - 4 << "\" y=\"" << top + plotHeight
        << "\" text-anchor=\"end\">0</text>";
    svg << "<text class=\"axis\" x=\"" << left << "\" y=\"" << top + plotHeight + 14 << "\">"
        << xmlText(durationText(model.first)) << "</text>";
    svg << "<text class=\"axis\" x=\"" << left + plotWidth << "\" y=\"" << top + plotHeight + 14
        << "\" text-anchor=\"end\">" << xmlText(durationText(model.last)) << "</text>";
    svg << polyline(rates.calls, top, scale, left, step, plotHeight, "calls");
    svg << polyline(rates.events, top, scale, left, step, plotHeight, "events");
    svg << "<text class=\"legend calls\" x=\"" << left << "\" y=\"" << height - 4 << "\">— calls per second</text>";
    svg << "<text class=\"legend events\" x=\"" << left + plotWidth / 2 << "\" y=\"" << height - 4
        << "\">— events per second</text>";
    svg << "<text class=\"axis\" x=\"" << left + plotWidth << "\" y=\"" << height - 4 << "\" text-anchor=\"end\">"
        << xmlText("per " + durationText(rates.bucket)) << "</text></svg>";
    return svg.str();
}

std::string chartFormat(const std::string& outPath, const std::string& format) {
    if (!format.empty()) {
        if (format != "html" && format != "svg") throw UsageError("--format is html or svg, not '" + format + "'");
        return format;
    }
    auto endsWith = [&](const char* suffix) {
        const size_t length = strlen(suffix);
        return outPath.size() >= length && outPath.compare(outPath.size() - length, length, suffix) == 0;
    };
    if (endsWith(".html") || endsWith(".htm")) return "html";
    if (endsWith(".svg")) return "svg";
    throw UsageError("give --format html or svg: the output '" + outPath + "' ends in neither .html nor .svg");
}

void writeChart(const ChartModel& model, const std::string& outPath, const std::string& format, std::ostream& out) {
    const std::string kind = chartFormat(outPath, format);
    std::ofstream file;
    std::ostream* sink = &out;
    if (outPath != "-") {
        file.open(outPath, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!file) throw std::runtime_error("cannot write " + outPath + ": " + strerror(errno));
        sink = &file;
    }
    if (kind == "html") {
        writeChartHtml(model, *sink);
    } else {
        writeChartSvg(model, *sink);
    }
    sink->flush();
    if (!*sink) throw std::runtime_error("could not write " + outPath);
}

}  // namespace tool
}  // namespace zumi
