#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace orv {

class TORVDashboardDownload;
class TORVDashboardInstall;

// The ordinals are part of the batch protocol: keep the order.
enum class TORVDashboardActionMode : std::uint8_t { amUninstall = 0, amInstall = 1, amUpdate = 2 };

// One step of a batch of product actions.
struct TORVDashboardAction {
  QString ProductName;
  TORVDashboardActionMode Action = TORVDashboardActionMode::amInstall;
  TORVDashboardDownload* Download = nullptr;  // not owned; may be null
  TORVDashboardInstall* Install = nullptr;    // not owned; may be null
  QString ProductID;                          // package-manager steps only
};
using TORVDashboardActions = std::vector<TORVDashboardAction>;

// True when a step of the batch names the product (exact, case-sensitive).
bool ContainsProduct(const QString& AProductName, const TORVDashboardActions& AActions);

// True when every product the action's product requires is named in the
// batch; products without requirements always pass.
bool HasPrerequisites(const TORVDashboardAction& AAction, const TORVDashboardActions& AActions);

// True when some step of ASteps has its requirements in AOrdered; false for
// no steps.
bool AnyActionReady(const TORVDashboardActions& ASteps, const TORVDashboardActions& AOrdered);

// The steps with every product after those of its requirements that are in
// the batch. Steps that become ready together keep their order; steps whose
// requirements never appear come last, in their order.
TORVDashboardActions OrderActions(const TORVDashboardActions& ASteps);

}  // namespace orv
