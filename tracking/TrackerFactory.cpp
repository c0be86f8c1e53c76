// The tracker factory face of the environment.

#include "environment/Environment.h"
#include "tracking/InertialTracker.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

InterfaceContract::InterfacePtr<ITracker> Environment::createTracker(const TrackerSettings* settings) {
    return InterfaceContract::createInterfaced<ITracker, InertialTracker>(*this, resolveTrackerSettings(settings));
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
