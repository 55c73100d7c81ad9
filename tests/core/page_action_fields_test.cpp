#include "core/page_action_fields.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

// Only a missing or null member, true, a number but 0 and the text "true"
// make an action's edition the registered one.
TEST(PageActionFieldsTest, RegisteredOnlyForValuesThatMeanIt) {
  const struct {
    const char* action;
    bool registered;
  } cases[] = {
      {R"({})", true},
      {R"({"Registered": null})", true},
      {R"({"Registered": true})", true},
      {R"({"Registered": false})", false},
      {R"({"Registered": 1})", true},
      {R"({"Registered": 0})", false},
      {R"({"Registered": 0.0})", false},
      {R"({"Registered": "true"})", true},
      {R"({"Registered": " TRUE "})", true},
      {R"({"Registered": "false"})", false},
      {R"({"Registered": "False"})", false},
      {R"({"Registered": ""})", false},
      {R"({"Registered": "yes"})", false},
      {R"({"Registered": []})", false},
      {R"({"Registered": {}})", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PageActionRegistered(nlohmann::ordered_json::parse(c.action)), c.registered) << c.action;
}

}  // namespace
}  // namespace orv
