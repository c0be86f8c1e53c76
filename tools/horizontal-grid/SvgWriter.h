#pragma once
// A small SVG document builder: elements with escaped attributes and text, nested groups.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace Lumetra::Tools {

class SvgWriter {
public:
    using Attribute = std::pair<std::string_view, std::string>;

    /// A document of `width` × `height` pixels (or `unit`, such as "mm") showing the user-space box
    /// (x, y, width, height).
    SvgWriter(double width, double height, double boxX, double boxY, double boxWidth, double boxHeight,
              std::string_view unit = "");

    void element(std::string_view name, std::initializer_list<Attribute> attributes);
    /// An element with a <title> child, which viewers show when the pointer rests on it.
    void element(std::string_view name, std::initializer_list<Attribute> attributes, std::string_view title);
    void text(double x, double y, std::string_view content, std::initializer_list<Attribute> attributes = {});
    void title(std::string_view content);
    void openGroup(std::initializer_list<Attribute> attributes = {});
    void closeGroup();

    /// The finished document (closes any groups left open).
    std::string finish();

    static std::string number(double value);

private:
    void openTag(std::string_view name, std::initializer_list<Attribute> attributes);

    std::string document_;
    int openGroups_ = 0;
};

/// Replaces the characters XML reserves by their entities.
std::string escapeXml(std::string_view text);

}  // namespace Lumetra::Tools
