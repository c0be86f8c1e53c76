// Pixels to unit rays in the tracker's frame through the host's camera models: 100,000 random
// pixel centroids of a 640 x 480 image per iteration; items per second are pixels per second.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGridCamera.h"

namespace {

using Lumetra::Host::Camera;

void convert(benchmark::State& state, const Camera& camera) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(0, 639), v(0, 479);
    std::vector<Lumetra::Host::Pixel> pixels(100000);
    for (auto& pixel : pixels) pixel = {u(rng), v(rng)};
    std::vector<Lumetra::Host::Vector3> rays(pixels.size());
    for (auto _ : state) {
        camera.rays(pixels.data(), pixels.size(), rays.data());
        benchmark::DoNotOptimize(rays.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels.size()));
}

void BM_CameraPinholeRays(benchmark::State& state) {
    convert(state, Camera::pinhole({420, 425, 319.3, 241.2}, {-0.30, 0.11, 0.0012, -0.0007, -0.018},
                                   {{0, 0, 0}, Lumetra::Host::cameraLookingDown}));
}
BENCHMARK(BM_CameraPinholeRays)->Unit(benchmark::kMicrosecond);

void BM_CameraFisheyeRays(benchmark::State& state) {
    convert(state, Camera::fisheye({256.0, 255.6, 320.4, 239.6}, {-0.004, 0.0006, -0.0001, 0.00001},
                                   {{0, 0, 0}, Lumetra::Host::cameraLookingUp}));
}
BENCHMARK(BM_CameraFisheyeRays)->Unit(benchmark::kMicrosecond);

}  // namespace
