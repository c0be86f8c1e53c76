// The Python package's C interface over the frame generator on arbitrary numbers: every argument
// (pose values, ranges, frame options, batch offsets) comes from the input bit for bit, so NaN,
// infinities, huge and negative values all arrive. A refused call must say why; an accepted one
// must give frames whose rays are unit vectors and whose offsets tile the rays, and batch matching
// must refuse offsets that leave the rays.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "simulation/SampleEnvironmentCodes.h"
#include "simulation/capi/SimulationCApi.h"

namespace {

using namespace LumetraFuzz;

/// Reads values bit for bit from the input; zero once it runs out.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <class T>
    T next() {
        T value{};
        const std::size_t count = std::min(sizeof(T), size_ - used_);
        std::memcpy(&value, data_ + used_, count);
        used_ += count;
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

bool hasMessage() { return std::strlen(lumetra_simulation_last_error()) > 0; }

/// One environment for the whole run (created once, kept: never released).
IEnvironment& environment() {
    static IEnvironment& made = requireEnvironment(LumetraTest::sampleEnvironmentCodes[2]);
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const std::uint64_t poseCount = input.next<std::uint8_t>() % 5;

    std::vector<double> poses(poseCount * 8);
    const double range[] = {input.next<double>(), input.next<double>(), input.next<double>(),
                            input.next<double>(), input.next<double>(), input.next<double>()};
    if (lumetra_simulation_random_poses(poseCount, range[0], range[1], range[2], range[3], range[4], range[5],
                                        input.next<std::uint8_t>() & 1, input.next<std::uint64_t>(),
                                        poses.data()) != 0) {
        LUMETRA_FUZZ_CHECK(hasMessage(), "random_poses refused without a message");
        for (double& value : poses) value = input.next<double>();
    }
    std::vector<double> rotations(poseCount * 4);
    if (lumetra_simulation_rotations(poseCount, poses.data(), rotations.data()) == 0)
        for (std::uint64_t i = 0; i < poseCount; ++i) {
            const double* q = &rotations[4 * i];
            LUMETRA_FUZZ_CHECK(std::abs(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3] - 1) < 1e-6,
                               "rotation %llu is not a unit quaternion", static_cast<unsigned long long>(i));
        }

    static const std::vector<Vector3> markers = [] {
        OutArray<Vector3> collected;
        environment().getMarkers(collected.marshaler());
        return collected.elements;
    }();
    lumetra_frame_options options{input.next<std::uint8_t>() & 1u, input.next<double>(), input.next<double>(),
                                  input.next<double>(), input.next<std::uint8_t>(), input.next<std::uint64_t>()};
    void* frames = lumetra_simulation_generate(&markers[0].x, markers.size(), poses.data(), poseCount, &options);
    if (frames == nullptr) {
        LUMETRA_FUZZ_CHECK(hasMessage(), "generate refused without a message");
        return 0;
    }
    const std::uint64_t rayCount = lumetra_simulation_ray_count(frames);
    std::vector<float> rays(3 * rayCount), worldRays(3 * rayCount);
    std::vector<std::uint32_t> numbers(rayCount);
    std::vector<std::uint64_t> offsets(poseCount + 1);
    lumetra_simulation_copy(frames, rays.data(), worldRays.data(), numbers.data(), offsets.data());
    lumetra_simulation_free(frames);
    LUMETRA_FUZZ_CHECK(offsets.front() == 0 && offsets.back() == rayCount, "offsets do not tile the rays");
    for (std::uint64_t r = 0; r < rayCount; ++r) {
        const float length = std::sqrt(rays[3 * r] * rays[3 * r] + rays[3 * r + 1] * rays[3 * r + 1] +
                                       rays[3 * r + 2] * rays[3 * r + 2]);
        LUMETRA_FUZZ_CHECK(std::abs(length - 1) < 1e-4f || std::isnan(length), "ray %llu has length %g",
                           static_cast<unsigned long long>(r), static_cast<double>(length));
    }

    // Batch matching with the generated offsets, or with offsets taken from the input.
    if (input.next<std::uint8_t>() & 1)
        for (std::uint64_t& offset : offsets) offset = input.next<std::uint8_t>();
    std::vector<std::uint32_t> indices(rayCount), matched(poseCount);
    std::vector<float> found(7 * poseCount);
    std::vector<double> seconds(poseCount);
    const std::uint32_t code = lumetra_simulation_match(&environment(), rays.data(), rayCount, offsets.data(),
                                                        poseCount, indices.data(), found.data(), matched.data(),
                                                        seconds.data());
    bool valid = offsets.front() == 0 && offsets.back() <= rayCount;
    for (std::uint64_t f = 0; f < poseCount; ++f) valid = valid && offsets[f] <= offsets[f + 1];
    LUMETRA_FUZZ_CHECK(valid ? code == 0 : code == static_cast<std::uint32_t>(ExceptionCode::InvalidArgument),
                       "match returned 0x%08X for %s offsets", code, valid ? "valid" : "invalid");
    return 0;
}
