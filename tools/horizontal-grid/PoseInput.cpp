#include "tools/horizontal-grid/PoseInput.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {

namespace {

std::vector<double> parseNumbers(const std::string& text) {
    std::vector<double> numbers;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(", \t", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            double value = 0;
            const auto [rest, error] = std::from_chars(text.data() + start, text.data() + end, value);
            if (error != std::errc() || rest != text.data() + end || !std::isfinite(value))
                throw std::runtime_error("\"" + text.substr(start, end - start) + "\" is not a number");
            numbers.push_back(value);
        }
        start = end + 1;
    }
    return numbers;
}

}  // namespace

Testing::TrackerPose parsePose(const std::string& text) {
    const std::vector<double> numbers = parseNumbers(text);
    if (numbers.size() < 4 || numbers.size() > 6)
        throw std::runtime_error("a pose is x,y,z,yaw[,tilt[,tiltAxis]] (angles in degrees), not \"" + text + "\"");
    Testing::TrackerPose pose;
    pose.position = {numbers[0], numbers[1], numbers[2]};
    pose.yaw = numbers[3] * radiansPerDegree;
    if (numbers.size() > 4) pose.tilt = numbers[4] * radiansPerDegree;
    const double axis = numbers.size() > 5 ? numbers[5] * radiansPerDegree : 0.0;
    pose.tiltAxis = {std::cos(axis), 0, std::sin(axis)};
    return pose;
}

std::vector<Testing::TrackerPose> parsePoseFile(const std::string& content, const std::string& fileName) {
    std::vector<Testing::TrackerPose> poses;
    std::istringstream lines(content);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (const auto end = line.find_last_not_of(" \t\r"); end != std::string::npos) line.resize(end + 1);
        try {
            poses.push_back(parsePose(line.substr(line.find_first_not_of(" \t"))));
        } catch (const std::exception& error) {
            throw std::runtime_error(fileName + ":" + std::to_string(number) + ": " + error.what());
        }
    }
    return poses;
}

}  // namespace Lumetra::Tools
