#include "core/batch_action.h"

#include <algorithm>
#include <array>

namespace orv {

namespace {

const QString kZynPrefix = QStringLiteral("ORV ZYN");
const QString kZynCore = QStringLiteral("ORV ZYN Core");

struct Requirement {
  const char16_t* product;
  std::array<const char16_t*, 2> requires_;  // unused slots are null
};

// The business family builds on its core library in layers; the first rule
// that names a product decides. The ZYN family (any name with its prefix)
// is handled before this table.
constexpr std::array<Requirement, 6> kRequirements{{
    {u"ORV Ledger", {u"ORV Keystone Core", nullptr}},
    {u"ORV Conduit", {u"ORV Keystone Core", nullptr}},
    {u"ORV Gateway", {u"ORV Ledger", u"ORV Conduit"}},
    {u"ORV Weave", {u"ORV Ledger", u"ORV Conduit"}},
    {u"ORV Harbor", {u"ORV Gateway", nullptr}},
    {u"ORV Lantern", {u"ORV Gateway", nullptr}},
}};

}  // namespace

bool ContainsProduct(const QString& AProductName, const TORVDashboardActions& AActions) {
  return std::any_of(AActions.begin(), AActions.end(),
                     [&](const TORVDashboardAction& action) { return action.ProductName == AProductName; });
}

bool HasPrerequisites(const TORVDashboardAction& AAction, const TORVDashboardActions& AActions) {
  const QString& name = AAction.ProductName;
  if (name.startsWith(kZynPrefix) && name != kZynCore) return ContainsProduct(kZynCore, AActions);
  for (const Requirement& rule : kRequirements) {
    if (name != QStringView(rule.product)) continue;
    return std::all_of(rule.requires_.begin(), rule.requires_.end(), [&](const char16_t* required) {
      return required == nullptr || ContainsProduct(QString::fromUtf16(required), AActions);
    });
  }
  return true;
}

bool AnyActionReady(const TORVDashboardActions& ASteps, const TORVDashboardActions& AOrdered) {
  return std::any_of(ASteps.begin(), ASteps.end(),
                     [&](const TORVDashboardAction& step) { return HasPrerequisites(step, AOrdered); });
}

TORVDashboardActions OrderActions(const TORVDashboardActions& ASteps) {
  TORVDashboardActions ordered;
  TORVDashboardActions left = ASteps;
  // Each walk places at least one step, so this ends.
  while (AnyActionReady(left, ordered)) {
    TORVDashboardActions notReady;
    for (const TORVDashboardAction& step : left) {
      // Placed at once: later steps of the same walk already see it.
      if (HasPrerequisites(step, ordered))
        ordered.push_back(step);
      else
        notReady.push_back(step);
    }
    left = std::move(notReady);
  }
  ordered.insert(ordered.end(), left.begin(), left.end());
  return ordered;
}

}  // namespace orv
