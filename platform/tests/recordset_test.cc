// Listeners of a recordset's moves: order, and leaving from inside the event.

#include "platform/recordset.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/fake_recordset.h"

namespace platform {
namespace {

using ::testing::ElementsAre;

struct Listener final : MoveCompleteListener {
  Listener(std::string n, std::vector<std::string>& h) : name(std::move(n)), heard(h) {}
  void moveComplete(MoveReason, std::int32_t, EventStatus& status, Recordset&) override {
    heard.push_back(name);
    if (action) action(status);
  }
  std::string name;
  std::vector<std::string>& heard;
  std::function<void(EventStatus&)> action;
};

TEST(RecordsetEvents, BindingsHearAMoveBeforeOthersAndLeaversAreNotCalledAgain) {
  testing::FakeRecordset records(testing::articles(3));
  std::vector<std::string> heard;
  Listener window("window", heard), label("label", heard), other("other", heard);
  auto gone = std::make_unique<Listener>("gone", heard);
  records.subscribe(window);
  records.subscribe(*gone);
  records.subscribe(label, true);
  records.subscribe(other);
  // The window unsubscribes a later listener and destroys it, as an unload destroys the labels.
  window.action = [&](EventStatus&) {
    records.unsubscribe(*gone);
    gone.reset();
  };
  records.moveFirst();
  EXPECT_THAT(heard, ElementsAre("label", "window", "other"));

  heard.clear();
  window.action = nullptr;
  other.action = [](EventStatus& status) { status = EventStatus::unwantedEvent; };
  records.moveNext();
  records.moveNext();
  EXPECT_THAT(heard, ElementsAre("label", "window", "other", "label", "window"));

  // A binding that leaves and comes back is again first.
  heard.clear();
  records.unsubscribe(label);
  records.subscribe(label, true);
  records.moveFirst();
  EXPECT_THAT(heard, ElementsAre("label", "window"));
}

TEST(RecordsetEvents, ASubscriptionHoldsTheRecordsetUntilItIsReset) {
  auto records = std::make_shared<testing::FakeRecordset>(testing::articles(1));
  std::vector<std::string> heard;
  Listener listener("l", heard);
  Subscription subscription;
  subscription.connect(records, listener);
  EXPECT_EQ(records.use_count(), 2);
  records->moveFirst();
  subscription.reset();
  records->moveFirst();
  EXPECT_THAT(heard, ElementsAre("l"));
  EXPECT_EQ(records.use_count(), 1);
}

}  // namespace
}  // namespace platform
