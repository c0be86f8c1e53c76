#pragma once
// Moving the estimate forward in time: by one inertial sample, or by the motion model of constant
// velocity and turn rate when the tracker has no inertial sensor. Both propagate the covariance as
// P <- F P F^T + Q with the sparse F of the error state written out block by block (a dense 15 x 15
// product per sample would cost several microseconds at 1 kHz).

#include "tracking/FilterState.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Noise of the process, as spectral densities (per square root of a hertz).
struct ProcessNoise {
    double gyro = 0, gyroBiasWalk = 0, accel = 0, accelBiasWalk = 0;
    double gravity = 0;  ///< size of gravity; it points along -y
    /// Motion model: white acceleration (units/s^2/sqrt(Hz)) and angular acceleration (rad/s^2/sqrt(Hz)).
    double motionAcceleration = 0, motionAngularAcceleration = 0;
};

/// Integrates one interval of `dt` seconds over which the sensor read `angularRate` (rad/s,
/// tracker frame) and `specificForce`: q <- q Exp((w - b) dt), v <- v + (R (f - a) + g) dt, p by the
/// mean velocity. Error dynamics (world-frame rotation error): dv' = -[R(f - a)]x dtheta - R da,
/// dtheta' = -R db; the white noises enter dv and dtheta, the bias walks db and da.
void propagateInertial(FilterState& state, double dt, const Vector3d& angularRate, const Vector3d& specificForce,
                       const ProcessNoise& noise);

/// Constant velocity and turn rate (tracker frame) for `dt` seconds, driven by white acceleration
/// and angular acceleration: dp' = dv, dtheta' = R dw.
void propagateMotion(FilterState& state, double dt, const ProcessNoise& noise);

/// The nominal state alone moved on (no covariance): for answering a time between samples.
void advanceNominal(FilterState& state, double dt, const Vector3d* angularRate, const Vector3d* specificForce,
                    double gravity);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
