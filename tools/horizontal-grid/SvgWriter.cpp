#include "tools/horizontal-grid/SvgWriter.h"

#include <fmt/core.h>

namespace Lumetra::Tools {

std::string escapeXml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&apos;"; break;
            default:
                // Control characters other than tab and line breaks are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    escaped += '?';
                else
                    escaped += c;
        }
    }
    return escaped;
}

std::string SvgWriter::number(double value) { return fmt::format("{:.6g}", value); }

SvgWriter::SvgWriter(double width, double height, double boxX, double boxY, double boxWidth, double boxHeight,
                     std::string_view unit) {
    document_ = fmt::format(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{}{}\" height=\"{}{}\" viewBox=\"{} {} {} {}\">\n",
        number(width), unit, number(height), unit, number(boxX), number(boxY), number(boxWidth), number(boxHeight));
}

void SvgWriter::openTag(std::string_view name, std::initializer_list<Attribute> attributes) {
    document_ += '<';
    document_ += name;
    for (const auto& [key, value] : attributes) document_ += fmt::format(" {}=\"{}\"", key, escapeXml(value));
}

void SvgWriter::element(std::string_view name, std::initializer_list<Attribute> attributes) {
    openTag(name, attributes);
    document_ += "/>\n";
}

void SvgWriter::element(std::string_view name, std::initializer_list<Attribute> attributes, std::string_view title) {
    openTag(name, attributes);
    document_ += "><title>" + escapeXml(title) + "</title></" + std::string(name) + ">\n";
}

void SvgWriter::text(double x, double y, std::string_view content, std::initializer_list<Attribute> attributes) {
    document_ += fmt::format("<text x=\"{}\" y=\"{}\"", number(x), number(y));
    for (const auto& [key, value] : attributes) document_ += fmt::format(" {}=\"{}\"", key, escapeXml(value));
    document_ += '>' + escapeXml(content) + "</text>\n";
}

void SvgWriter::title(std::string_view content) { document_ += "<title>" + escapeXml(content) + "</title>\n"; }

void SvgWriter::openGroup(std::initializer_list<Attribute> attributes) {
    openTag("g", attributes);
    document_ += ">\n";
    ++openGroups_;
}

void SvgWriter::closeGroup() {
    if (openGroups_ == 0) return;
    document_ += "</g>\n";
    --openGroups_;
}

std::string SvgWriter::finish() {
    while (openGroups_ > 0) closeGroup();
    return document_ + "</svg>\n";
}

}  // namespace Lumetra::Tools
