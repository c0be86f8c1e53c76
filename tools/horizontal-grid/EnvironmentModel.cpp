#include "tools/horizontal-grid/EnvironmentModel.h"

#include <algorithm>
#include <set>
#include <vector>

#include "simulation/MatchScenarios.h"

namespace Lumetra::Tools {

EnvironmentPtr buildEnvironment(const EnvironmentDescription& description) {
    return Testing::makeEnvironment(description);
}

CatalogueFigures catalogueFigures(const Environment& environment) {
    // Every feature is listed under its four keys, each time with its bars in another order.
    std::set<std::vector<unsigned long>> features;
    for (const auto& [key, bars] : environment.getCombinations()) {
        std::vector<unsigned long> sorted(bars.begin(), bars.end());
        std::sort(sorted.begin(), sorted.end());
        features.insert(std::move(sorted));
    }

    CatalogueFigures figures;
    std::vector<bool> inFeature(environment.getField().bars().size(), false);
    for (const auto& feature : features) {
        ++figures.uniqueFeaturesBySize[feature.size()];
        for (const unsigned long bar : feature) inFeature.at(bar) = true;
    }
    figures.uniqueFeatures = features.size();
    if (!features.empty()) figures.smallestFeatureSize = environment.getMinCombinationSize();
    figures.barsInFeatures = static_cast<std::size_t>(std::count(inFeature.begin(), inFeature.end(), true));
    figures.markerSpacing = environment.getMinMarkerDistance();
    figures.markerEllipse = environment.getMarkerEllipse();
    return figures;
}

}  // namespace Lumetra::Tools
