#include "core/batch_action.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace orv {
namespace {

TORVDashboardAction Step(const QString& name) {
  TORVDashboardAction action;
  action.ProductName = name;
  return action;
}

TORVDashboardActions Batch(const QStringList& names) {
  TORVDashboardActions actions;
  for (const QString& name : names) actions.push_back(Step(name));
  return actions;
}

TEST(DashboardAction, ContainsProductIsExactAndCaseSensitive) {
  const TORVDashboardActions batch = Batch({"ORV Ledger", "ORV ZYN Core"});
  EXPECT_TRUE(ContainsProduct("ORV Ledger", batch));
  EXPECT_FALSE(ContainsProduct("orv ledger", batch));
  EXPECT_FALSE(ContainsProduct("ORV Ledge", batch));
  EXPECT_FALSE(ContainsProduct("ORV Ledger", {}));
}

TEST(DashboardAction, HasPrerequisitesFollowsTheRuleTable) {
  struct Case {
    const char* product;
    QStringList batch;
    bool expected;
  };
  const Case cases[] = {
      {"Widget Pack", {}, true},   // no rule
      {"ORV ZYN Core", {}, true},  // the family core itself
      {"ORV ZYN Canvas", {}, false},
      {"ORV ZYN Canvas", {"ORV ZYN Core"}, true},
      {"ORV ZYN Canvas", {"orv zyn core"}, false},
      {"orv zyn canvas", {}, true},          // prefix is case-sensitive
      {"ORV ZYNC", {"ORV ZYN Core"}, true},  // any name with the prefix
      {"ORV Keystone Core", {}, true},
      {"ORV Ledger", {"ORV Keystone Core"}, true},
      {"ORV Conduit", {"ORV ZYN Core"}, false},
      {"ORV Gateway", {"ORV Ledger"}, false},  // needs both
      {"ORV Gateway", {"ORV Conduit", "ORV Ledger"}, true},
      {"ORV Weave", {"ORV Ledger", "ORV Conduit"}, true},
      {"ORV Harbor", {"ORV Ledger", "ORV Conduit"}, false},
      {"ORV Lantern", {"ORV Gateway"}, true},
      {"ORV Ledger Plus", {}, true},  // whole-name match only
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HasPrerequisites(Step(c.product), Batch(c.batch)), c.expected)
        << c.product << " with " << c.batch.join(", ").toStdString();
  }
}

QStringList Names(const TORVDashboardActions& actions) {
  QStringList names;
  for (const TORVDashboardAction& action : actions) names << action.ProductName;
  return names;
}

TEST(DashboardAction, OrderActionsPutsEveryProductAfterItsRequirementsInTheBatch) {
  struct Case {
    QStringList batch;
    QStringList expected;
  };
  const Case cases[] = {
      {{}, {}},
      {{"ORV ZYN Canvas", "Widget Pack", "ORV ZYN Core"}, {"Widget Pack", "ORV ZYN Core", "ORV ZYN Canvas"}},
      {{"ORV ZYN Canvas", "ORV ZYN Core"}, {"ORV ZYN Core", "ORV ZYN Canvas"}},
      {{"ORV ZYN Core", "ORV ZYN Canvas"}, {"ORV ZYN Core", "ORV ZYN Canvas"}},
      // A step placed in a walk counts for the later steps of that walk.
      {{"ORV ZYN Canvas", "ORV ZYN Core", "ORV ZYN Flow"}, {"ORV ZYN Core", "ORV ZYN Flow", "ORV ZYN Canvas"}},
      // A requirement missing from the batch: the step stays, at the end.
      {{"ORV ZYN Canvas"}, {"ORV ZYN Canvas"}},
      {{"ORV ZYN Canvas", "Widget Pack"}, {"Widget Pack", "ORV ZYN Canvas"}},
      {{"ORV Gateway", "ORV Ledger"}, {"ORV Gateway", "ORV Ledger"}},
      {{"ORV Gateway", "ORV Ledger", "ORV Keystone Core"}, {"ORV Keystone Core", "ORV Ledger", "ORV Gateway"}},
      // Layers: Harbor needs Gateway, which needs Ledger and Conduit,
      // which need Keystone Core.
      {{"ORV Harbor", "ORV Gateway", "ORV Conduit", "ORV Ledger", "ORV Keystone Core"},
       {"ORV Keystone Core", "ORV Conduit", "ORV Ledger", "ORV Gateway", "ORV Harbor"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Names(OrderActions(Batch(c.batch))), c.expected) << c.batch.join(", ").toStdString();
  }
}

TEST(DashboardAction, OrderActionsKeepsEachStepWhole) {
  TORVDashboardAction canvas = Step("ORV ZYN Canvas");
  canvas.Action = TORVDashboardActionMode::amUninstall;
  canvas.ProductID = "orv.zyn.canvas";
  const TORVDashboardActions ordered = OrderActions({canvas, Step("ORV ZYN Core")});
  ASSERT_EQ(ordered.size(), 2u);
  EXPECT_EQ(ordered[1].Action, TORVDashboardActionMode::amUninstall);
  EXPECT_EQ(ordered[1].ProductID, "orv.zyn.canvas");
}

TEST(DashboardAction, AnyActionReadyAsksEveryStepAgainstThePlacedOnes) {
  EXPECT_FALSE(AnyActionReady({}, {}));
  EXPECT_FALSE(AnyActionReady(Batch({"ORV ZYN Canvas", "ORV Ledger"}), {}));
  EXPECT_TRUE(AnyActionReady(Batch({"ORV ZYN Canvas", "ORV Ledger"}), Batch({"ORV Keystone Core"})));
  EXPECT_TRUE(AnyActionReady(Batch({"ORV ZYN Canvas", "Widget Pack"}), {}));
}

TEST(DashboardAction, ModesKeepTheirOrdinals) {
  EXPECT_EQ(static_cast<int>(TORVDashboardActionMode::amUninstall), 0);
  EXPECT_EQ(static_cast<int>(TORVDashboardActionMode::amInstall), 1);
  EXPECT_EQ(static_cast<int>(TORVDashboardActionMode::amUpdate), 2);
}

}  // namespace
}  // namespace orv
