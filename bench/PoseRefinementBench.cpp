// Pose refinement on 8 and 24 exact or noisy rays of markers under a ceiling, started 5 cm and
// about 3 degrees off the truth.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "matching/PoseRefinement.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;
using Vector3 = LumetraMath::vector<float, 3>;

void refine(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const float noise = static_cast<float>(state.range(1)) * 1e-4f;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> spread(-2.0f, 2.0f);
    std::normal_distribution<float> error(0.0f, 1.0f);
    LumetraMath::poseP3Q<float> truth;
    truth.position = {0.1f, 0.8f, -0.2f};
    truth.rotation = LumetraMath::quaternionFromAxisAngle(Vector3{0.1f, 1.0f, -0.05f}, 0.7f);
    std::vector<Vector3> markers, rays;
    for (std::size_t i = 0; i < count; ++i) {
        markers.push_back({spread(random), 2.5f, spread(random)});
        Vector3 ray = LumetraMath::mul(LumetraMath::conjugate(truth.rotation), markers.back() - truth.position);
        ray = ray / LumetraMath::length(ray) + Vector3{error(random), error(random), error(random)} * noise;
        rays.push_back(ray / LumetraMath::length(ray));
    }
    LumetraMath::poseP3Q<float> start = truth;
    start.position += Vector3{0.03f, -0.02f, 0.03f};
    start.rotation = LumetraMath::quaternionFromAxisAngle(Vector3{1.0f, 0.3f, 0.2f}, 0.05f) * truth.rotation;
    std::uint32_t iterations = 0;
    for (auto _ : state) {
        const auto refined = refinePose(rays, markers, start);
        benchmark::DoNotOptimize(refined);
        iterations = refined ? refined->iterations : 0;
    }
    state.counters["iterations"] = iterations;
}

}  // namespace

BENCHMARK(refine)->Name("PoseRefinement/rays/noise1e-4")->Args({8, 0})->Args({24, 0})->Args({24, 10});
