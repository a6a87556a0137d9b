#ifndef ZUMI_TOOLS_CHART_H
#define ZUMI_TOOLS_CHART_H

// The outputs of zumi chart (and of zumi monitor --chart): a sequence
// diagram of the traffic with its figures beside it, as one self-contained
// HTML page that scrolls, zooms and filters (its script and styles are
// compiled in from the files in chart/ beside this one), or as one
// SVG picture of the whole at the opening scale.
//
// Geometry shared by both: time runs down, one column per lifeline.
//
// Threads: the caller's.

#include <ostream>
#include <string>
#include <vector>

#include "Args.h"
#include "ChartModel.h"

namespace zumi {
namespace tool {

// Past this many operations the SVG draws counts per stretch of time on each
// lifeline instead of arrows (the page does the same for what is in view).
constexpr size_t SVG_MOST_ARROWS = 3000;

void writeChartHtml(const ChartModel& model, std::ostream& out);
void writeChartSvg(const ChartModel& model, std::ostream& out);

// Writes the chart to outPath ('-': out), as HTML or SVG by format ("html",
// "svg", or "" for outPath's suffix); a UsageError when neither tells.
void writeChart(const ChartModel& model, const std::string& outPath, const std::string& format, std::ostream& out);
std::string chartFormat(const std::string& outPath, const std::string& format);

// Shared by both outputs.
std::string xmlText(const std::string& text);          // escaped, valid UTF-8, no control characters
std::string chartHeading(const ChartModel& model);     // started, span and counts on one line
std::string rateSvg(const ChartModel& model, int width, int height);  // the plot of calls and events per second
std::string figuresNote(const ChartModel& model);      // what the table's columns mean
// A label's width in the diagram's 11 px type, as near as one can tell
// without a font; where it starts: at left, else at otherLeft, whichever
// keeps it within [low, high], else as near left as fits.
double labelWidth(const std::string& text);
double labelLeft(double width, double left, double otherLeft, double low, double high);

// The compiled-in assets (built from the files of the same names).
extern const char CHART_JS[];
extern const char CHART_CSS[];
extern const char DIAGRAM_CSS[];

}  // namespace tool
}  // namespace zumi

#endif
