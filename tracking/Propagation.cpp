#include "tracking/Propagation.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using ErrorBlock::size;

/// Rows dst += M * rows src (3 rows each), over all columns.
void addRows(Covariance15& p, std::size_t dst, std::size_t src, const Matrix3d& m) {
    for (std::size_t c = 0; c < size; ++c) {
        const double a = p(src, c), b = p(src + 1, c), d = p(src + 2, c);
        for (std::size_t r = 0; r < 3; ++r) p(dst + r, c) += m(r, 0) * a + m(r, 1) * b + m(r, 2) * d;
    }
}

/// Columns dst += columns src * M^T, over all rows.
void addColumns(Covariance15& p, std::size_t dst, std::size_t src, const Matrix3d& m) {
    for (std::size_t r = 0; r < size; ++r) {
        const double a = p(r, src), b = p(r, src + 1), d = p(r, src + 2);
        for (std::size_t c = 0; c < 3; ++c) p(r, dst + c) += m(c, 0) * a + m(c, 1) * b + m(c, 2) * d;
    }
}

Matrix3d scaled(const Matrix3d& m, double s) {
    Matrix3d result = m;
    for (double& value : result.m) value *= s;
    return result;
}

void addDiagonal(Covariance15& p, std::size_t block, double value) {
    for (std::size_t i = 0; i < 3; ++i) p(block + i, block + i) += value;
}

Vector3d gravityVector(double gravity) { return {0, -gravity, 0}; }

}  // namespace

void advanceNominal(FilterState& state, double dt, const Vector3d* angularRate, const Vector3d* specificForce,
                    double gravity) {
    if (angularRate == nullptr) {
        state.position += state.velocity * dt;
        state.rotation = normalized(state.rotation * rotationFromVector(state.rate * dt));
    } else {
        // The force is turned by the rotation at the middle of the interval: turning it by the
        // start's would bias the velocity by half the interval's turn times the force.
        const Vector3d turn = (*angularRate - state.rate) * dt;
        const Quaterniond middle = state.rotation * rotationFromVector(turn * 0.5);
        const Vector3d acceleration =
            LumetraMath::mul(middle, *specificForce - state.accelBias) + gravityVector(gravity);
        state.position += state.velocity * dt + acceleration * (0.5 * dt * dt);
        state.velocity += acceleration * dt;
        state.rotation = normalized(state.rotation * rotationFromVector(turn));
    }
    state.time += dt;
}

void propagateInertial(FilterState& state, double dt, const Vector3d& angularRate, const Vector3d& specificForce,
                       const ProcessNoise& noise) {
    const Matrix3d rotation = LumetraMath::toRotationMatrix(state.rotation);
    const Vector3d force = LumetraMath::mul(state.rotation, specificForce - state.accelBias);
    Covariance15& p = state.covariance;
    // F = I + blocks; rows first (each block reads rows not yet changed), then columns likewise.
    const Matrix3d identityDt = scaled(Matrix3d::identity(), dt);
    const Matrix3d forceTerm = scaled(skew(force), -dt);
    const Matrix3d biasTerm = scaled(rotation, -dt);
    addRows(p, ErrorBlock::position, ErrorBlock::velocity, identityDt);
    addRows(p, ErrorBlock::velocity, ErrorBlock::rotation, forceTerm);
    addRows(p, ErrorBlock::velocity, ErrorBlock::accelBias, biasTerm);
    addRows(p, ErrorBlock::rotation, ErrorBlock::rate, biasTerm);
    addColumns(p, ErrorBlock::position, ErrorBlock::velocity, identityDt);
    addColumns(p, ErrorBlock::velocity, ErrorBlock::rotation, forceTerm);
    addColumns(p, ErrorBlock::velocity, ErrorBlock::accelBias, biasTerm);
    addColumns(p, ErrorBlock::rotation, ErrorBlock::rate, biasTerm);
    addDiagonal(p, ErrorBlock::velocity, noise.accel * noise.accel * dt);
    addDiagonal(p, ErrorBlock::rotation, noise.gyro * noise.gyro * dt);
    addDiagonal(p, ErrorBlock::rate, noise.gyroBiasWalk * noise.gyroBiasWalk * dt);
    addDiagonal(p, ErrorBlock::accelBias, noise.accelBiasWalk * noise.accelBiasWalk * dt);
    advanceNominal(state, dt, &angularRate, &specificForce, noise.gravity);
}

void propagateMotion(FilterState& state, double dt, const ProcessNoise& noise) {
    const Matrix3d rotation = LumetraMath::toRotationMatrix(state.rotation);
    Covariance15& p = state.covariance;
    const Matrix3d identityDt = scaled(Matrix3d::identity(), dt);
    const Matrix3d rateTerm = scaled(rotation, dt);
    addRows(p, ErrorBlock::position, ErrorBlock::velocity, identityDt);
    addRows(p, ErrorBlock::rotation, ErrorBlock::rate, rateTerm);
    addColumns(p, ErrorBlock::position, ErrorBlock::velocity, identityDt);
    addColumns(p, ErrorBlock::rotation, ErrorBlock::rate, rateTerm);
    // Integrated white noise: q dt^3/3 on the integral, q dt^2/2 across, q dt on the rate.
    const double qa = noise.motionAcceleration * noise.motionAcceleration;
    const double qw = noise.motionAngularAcceleration * noise.motionAngularAcceleration;
    addDiagonal(p, ErrorBlock::position, qa * dt * dt * dt / 3);
    addDiagonal(p, ErrorBlock::velocity, qa * dt);
    addDiagonal(p, ErrorBlock::rotation, qw * dt * dt * dt / 3);
    addDiagonal(p, ErrorBlock::rate, qw * dt);
    for (std::size_t i = 0; i < 3; ++i) {
        p(ErrorBlock::position + i, ErrorBlock::velocity + i) += qa * dt * dt / 2;
        p(ErrorBlock::velocity + i, ErrorBlock::position + i) += qa * dt * dt / 2;
        for (std::size_t j = 0; j < 3; ++j) {
            // dtheta (world) against dw (tracker): R q dt^2 / 2.
            const double cross = rotation(i, j) * qw * dt * dt / 2;
            p(ErrorBlock::rotation + i, ErrorBlock::rate + j) += cross;
            p(ErrorBlock::rate + j, ErrorBlock::rotation + i) += cross;
        }
    }
    advanceNominal(state, dt, nullptr, nullptr, noise.gravity);
}

bool isFiniteState(const FilterState& state) {
    const double values[] = {state.time,        state.position.x,  state.position.y,  state.position.z,
                             state.velocity.x,  state.velocity.y,  state.velocity.z,  state.rotation.x,
                             state.rotation.y,  state.rotation.z,  state.rotation.w,  state.rate.x,
                             state.rate.y,      state.rate.z,      state.accelBias.x, state.accelBias.y,
                             state.accelBias.z};
    for (const double value : values)
        if (!std::isfinite(value)) return false;
    for (const double value : state.covariance.m)
        if (!std::isfinite(value)) return false;
    return true;
}

void injectError(FilterState& state, const double (&delta)[ErrorBlock::size]) {
    const auto block = [&](std::size_t first) { return Vector3d{delta[first], delta[first + 1], delta[first + 2]}; };
    state.position += block(ErrorBlock::position);
    state.velocity += block(ErrorBlock::velocity);
    state.rotation = normalized(rotationFromVector(block(ErrorBlock::rotation)) * state.rotation);
    state.rate += block(ErrorBlock::rate);
    state.accelBias += block(ErrorBlock::accelBias);
}

void symmetrize(Covariance15& covariance) {
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = r + 1; c < size; ++c) {
            const double mean = 0.5 * (covariance(r, c) + covariance(c, r));
            covariance(r, c) = mean;
            covariance(c, r) = mean;
        }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
