// A chart drawn as inline SVG: a time axis in seconds across, one value
// axis up, rectangles and lines in data coordinates, their look left to the
// page's style sheet (by class). Coordinates are written with one decimal,
// so a chart's size grows with what is drawn, not with the values.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace mervox::media::report {

class SvgChart {
public:
    // `label`: what the chart shows (its accessible title); `seconds`: the
    // length of the time axis; values from `low` to `high` fill `height`
    // pixels; `unit` follows the value axis' labels.
    SvgChart(const std::string& label, double seconds, double low, double high, int height, const std::string& unit);

    // A rectangle from t0 to t1 seconds and from v0 to v1 in value.
    void Rect(double t0, double t1, double v0, double v1, const char* cssClass);
    // A line through (seconds, value) points, in order.
    void Line(const std::vector<std::pair<double, double>>& points, const char* cssClass);
    // A label at the left end of a value (for lanes).
    void Label(double value, const std::string& text);

    std::string Svg() const;

    static constexpr int kWidth = 900;  // pixels, the axes' labels included
    static constexpr int kLeft = 110;   // the value axis' labels
    static constexpr int kRight = 10;
    static constexpr int kBottom = 18;  // the time axis' labels

private:
    double X(double seconds) const;
    double Y(double value) const;

    std::string label_;
    double seconds_;
    double low_, high_;
    int height_;
    std::string unit_;
    std::string body_;
};

// "12.5": a coordinate or value with `decimals` decimals, as printf's %.*f.
std::string Fixed(double value, int decimals);

}  // namespace mervox::media::report
