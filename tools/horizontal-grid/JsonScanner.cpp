#include "tools/horizontal-grid/JsonScanner.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <stdexcept>

namespace Lumetra::Tools {

void JsonScanner::fail(const std::string& what) const {
    throw std::runtime_error("column " + std::to_string(at_ + 1) + ": " + what);
}

void JsonScanner::skipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
        ++at_;
}

char JsonScanner::peek() {
    skipSpace();
    if (at_ == text_.size()) fail("unexpected end of the line");
    return text_[at_];
}

void JsonScanner::expect(char c) {
    if (peek() != c) fail(std::string("'") + c + "' expected");
    ++at_;
}

std::string_view JsonScanner::key() {
    expect('"');
    const std::size_t begin = at_;
    while (at_ < text_.size() && text_[at_] != '"') {
        if (text_[at_] == '\\') fail("escapes in keys are not read");
        ++at_;
    }
    if (at_ == text_.size()) fail("unterminated key");
    return text_.substr(begin, at_++ - begin);
}

bool JsonScanner::closes(char end) {
    const char c = peek();
    if (c == end) {
        ++at_;
        return true;
    }
    if (c != ',') fail(std::string("',' or '") + end + "' expected");
    ++at_;
    return false;
}

bool JsonScanner::empty(char end) {
    if (peek() != end) return false;
    ++at_;
    return true;
}

bool JsonScanner::shortNumber(double& value) {
    // Exact powers of ten: a mantissa below 2^53 times or over one of them rounds once, correctly.
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    std::size_t i = at_;
    const bool negative = i < text_.size() && text_[i] == '-';
    i += negative;
    std::uint64_t mantissa = 0;
    int digits = 0, exponent = 0;
    const auto digit = [&](std::size_t k) { return k < text_.size() && text_[k] >= '0' && text_[k] <= '9'; };
    if (!digit(i)) return false;
    for (; digit(i); ++i, ++digits) mantissa = mantissa * 10 + static_cast<std::uint64_t>(text_[i] - '0');
    if (i < text_.size() && text_[i] == '.') {
        if (!digit(++i)) return false;
        for (; digit(i); ++i, ++digits, --exponent) mantissa = mantissa * 10 + static_cast<std::uint64_t>(text_[i] - '0');
    }
    if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
        ++i;
        const bool negativeExponent = i < text_.size() && text_[i] == '-';
        i += i < text_.size() && (text_[i] == '-' || text_[i] == '+');
        if (!digit(i)) return false;
        int written = 0;
        for (; digit(i) && written < 1000; ++i) written = written * 10 + (text_[i] - '0');
        exponent += negativeExponent ? -written : written;
    }
    if (digits > 19 || mantissa >= (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) return false;
    const double m = static_cast<double>(mantissa);
    value = exponent < 0 ? m / powers[-exponent] : m * powers[exponent];
    if (negative) value = -value;
    at_ = i;
    return true;
}

double JsonScanner::number() {
    skipSpace();
    double value = 0;
    if (shortNumber(value)) return value;
    const char* begin = text_.data() + at_;
    const char* end = text_.data() + text_.size();
    if (begin != end && *begin == '+') fail("a number expected");  // from_chars takes no sign; JSON neither
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || !std::isfinite(value)) fail("a finite number expected");
    at_ += static_cast<std::size_t>(stop - begin);
    return value;
}

std::string JsonScanner::string() {
    expect('"');
    std::string value;
    while (at_ < text_.size() && text_[at_] != '"') {
        char c = text_[at_++];
        if (c == '\\') {
            if (at_ == text_.size()) break;
            const char escaped = text_[at_++];
            switch (escaped) {
                case 'n': c = '\n'; break;
                case 't': c = '\t'; break;
                case 'r': c = '\r'; break;
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                case '"': case '\\': case '/': c = escaped; break;
                default: fail("unsupported escape in a string");
            }
        }
        value.push_back(c);
    }
    if (at_ == text_.size()) fail("unterminated string");
    ++at_;
    return value;
}

void JsonScanner::skip() {
    constexpr int deepest = 64;  // nesting beyond any recording's, refused before the stack runs out
    switch (peek()) {
        case '{':
        case '[': {
            if (++depth_ > deepest) fail("values nested too deeply");
            if (peek() == '{')
                object([this](std::string_view) { skip(); });
            else
                array([this] { skip(); });
            --depth_;
            return;
        }
        case '"': string(); return;
        default: break;
    }
    for (const std::string_view word : {"true", "false", "null"})
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return;
        }
    number();
}

void JsonScanner::end() {
    skipSpace();
    if (at_ != text_.size()) fail("text after the end of the value");
}

}  // namespace Lumetra::Tools
