#include "simulation/PosePrediction.h"

#include <cmath>

#include "math/Quaternion.h"

namespace Lumetra::Testing {

std::optional<ConstantVelocityPredictor::Pose> ConstantVelocityPredictor::predict() const {
    if (!previous_ || !beforePrevious_) return previous_;
    Pose predicted = *previous_;
    predicted.position += previous_->position - beforePrevious_->position;
    const auto q = previous_->rotation * LumetraMath::conjugate(beforePrevious_->rotation) * previous_->rotation;
    const float norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    predicted.rotation = {q.x / norm, q.y / norm, q.z / norm, q.w / norm};
    return predicted;
}

void ConstantVelocityPredictor::update(bool found, const Pose& pose) {
    beforePrevious_ = found ? previous_ : std::nullopt;
    previous_ = found ? std::optional<Pose>(pose) : std::nullopt;
}

}  // namespace Lumetra::Testing
