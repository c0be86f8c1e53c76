#pragma once
// An inertial sensor riding a trajectory: each sample is the mean rate and specific force over the
// interval ending at its time, plus a bias (constant for the run, drawn once, and a random walk at
// the bias-walk densities) and white noise at the noise densities: the model the tracker's filter
// assumes.

#include <cstdint>
#include <random>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "simulation/Trajectory.h"

namespace Lumetra::Testing {

using Vesk::Environment::HorizontalGrid::InertialSample;

struct InertialNoise {
    double gyro = 1.7e-4, gyroBiasWalk = 1.9e-5;  ///< rad/s/sqrt(Hz), rad/s^2/sqrt(Hz)
    double accel = 2e-3, accelBiasWalk = 3e-3;    ///< units/s^2/sqrt(Hz), units/s^3/sqrt(Hz)
    double gravity = 9.80665;
    /// Standard deviation, per axis, of the constant bias drawn for a run.
    double gyroBias = 0.003, accelBias = 0.03;
};

class InertialSensor {
public:
    InertialSensor(const InertialNoise& noise, double rate, std::uint64_t seed);

    /// The sample at `time`; times must increase by the sensor's period.
    InertialSample sample(const Trajectory& trajectory, double time);
    double period() const { return 1.0 / rate_; }

private:
    InertialNoise noise_;
    double rate_;
    std::mt19937_64 rng_;
    std::normal_distribution<double> normal_{0.0, 1.0};
    Point3d gyroBias_{}, accelBias_{};
};

}  // namespace Lumetra::Testing
