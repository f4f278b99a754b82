#include "report/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/html_text.h"

namespace mervox::media::report {

std::string Fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

SvgChart::SvgChart(const std::string& label, double seconds, double low, double high, int height,
                   const std::string& unit)
    : label_(label),
      seconds_(seconds > 0 ? std::min(seconds, 1e9) : 1),  // NaN too: 1
      low_(low),
      high_(high > low ? high : low + 1),
      height_(std::max(height, 10)),
      unit_(unit)
{}

double SvgChart::X(double seconds) const
{
    const double t = std::clamp(seconds, 0.0, seconds_);
    return kLeft + t / seconds_ * (kWidth - kLeft - kRight);
}

double SvgChart::Y(double value) const
{
    const double v = std::clamp(value, low_, high_);
    return 4 + (high_ - v) / (high_ - low_) * (height_ - 4);
}

void SvgChart::Rect(double t0, double t1, double v0, double v1, const char* cssClass)
{
    const double x0 = X(t0), x1 = X(t1), y0 = Y(std::max(v0, v1)), y1 = Y(std::min(v0, v1));
    if (x1 - x0 <= 0 || y1 - y0 <= 0)
        return;
    body_ += "<rect class=\"" + std::string(cssClass) + "\" x=\"" + Fixed(x0, 1) + "\" y=\"" + Fixed(y0, 1) +
             "\" width=\"" + Fixed(std::max(x1 - x0, 0.3), 1) + "\" height=\"" + Fixed(y1 - y0, 1) + "\"/>";
}

void SvgChart::Line(const std::vector<std::pair<double, double>>& points, const char* cssClass)
{
    if (points.empty())
        return;
    body_ += "<polyline class=\"" + std::string(cssClass) + "\" points=\"";
    for (size_t i = 0; i < points.size(); ++i)
        body_ += (i ? " " : "") + Fixed(X(points[i].first), 1) + "," + Fixed(Y(points[i].second), 1);
    body_ += "\"/>";
}

void SvgChart::Label(double value, const std::string& text)
{
    body_ += "<text class=\"lane\" x=\"" + Fixed(kLeft - 6, 0) + "\" y=\"" + Fixed(Y(value) + 4, 1) + "\">" +
             HtmlEscape(text) + "</text>";
}

std::string SvgChart::Svg() const
{
    const int total = height_ + kBottom;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" width=\"" + std::to_string(kWidth) +
                      "\" height=\"" + std::to_string(total) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " +
                      std::to_string(total) + "\"><title>" + HtmlEscape(label_) + "</title>";
    // Frame and value axis.
    svg += "<rect class=\"plot\" x=\"" + std::to_string(kLeft) + "\" y=\"4\" width=\"" +
           std::to_string(kWidth - kLeft - kRight) + "\" height=\"" + std::to_string(height_ - 4) + "\"/>";
    if (!unit_.empty()) {
        svg += "<text class=\"axis\" x=\"" + std::to_string(kLeft - 6) + "\" y=\"12\">" +
               HtmlEscape(Fixed(high_, 0) + " " + unit_) + "</text>";
        svg += "<text class=\"axis\" x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(height_) + "\">" +
               HtmlEscape(Fixed(low_, 0) + " " + unit_) + "</text>";
    }
    // Time axis: a tick every 1, 2 or 5 times a power of ten seconds, at most ten.
    double step = 1;
    for (double scale = 1; seconds_ / step > 10; scale *= 10)
        for (const double m : {1.0, 2.0, 5.0, 10.0})
            if (seconds_ / (m * scale) <= 10) {
                step = m * scale;
                break;
            }
    for (double t = 0; t <= seconds_ + 1e-9; t += step)
        svg += "<text class=\"tick\" x=\"" + Fixed(X(t), 1) + "\" y=\"" + std::to_string(total - 4) + "\">" +
               Fixed(t, 0) + " s</text>";
    svg += body_;
    svg += "</svg>";
    return svg;
}

}  // namespace mervox::media::report
