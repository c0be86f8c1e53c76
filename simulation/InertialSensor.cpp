#include "simulation/InertialSensor.h"

#include <cmath>

namespace Lumetra::Testing {

InertialSensor::InertialSensor(const InertialNoise& noise, double rate, std::uint64_t seed)
    : noise_(noise), rate_(rate), rng_(seed) {
    for (std::size_t i = 0; i < 3; ++i) {
        gyroBias_[i] = noise.gyroBias * normal_(rng_);
        accelBias_[i] = noise.accelBias * normal_(rng_);
    }
}

InertialSample InertialSensor::sample(const Trajectory& trajectory, double time) {
    const double dt = 1.0 / rate_;
    const Motion middle = trajectory.at(time - dt / 2);
    const Point3d force = LumetraMath::mul(LumetraMath::conjugate(middle.rotation),
                                           middle.acceleration + Point3d{0, noise_.gravity, 0});
    const double sqrtRate = std::sqrt(rate_), sqrtDt = std::sqrt(dt);
    InertialSample sample{};
    sample.time = time;
    for (std::size_t i = 0; i < 3; ++i) {
        gyroBias_[i] += noise_.gyroBiasWalk * sqrtDt * normal_(rng_);
        accelBias_[i] += noise_.accelBiasWalk * sqrtDt * normal_(rng_);
        sample.angularRate[i] =
            static_cast<float>(middle.angularRate[i] + gyroBias_[i] + noise_.gyro * sqrtRate * normal_(rng_));
        sample.specificForce[i] = static_cast<float>(force[i] + accelBias_[i] + noise_.accel * sqrtRate * normal_(rng_));
    }
    return sample;
}

}  // namespace Lumetra::Testing
