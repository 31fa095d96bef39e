#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/concurrency/Publisher.h"

using namespace conc;

TEST(PassthroughSubject, DeliversToEverySubscriberInOrder) {
  PassthroughSubject<int> subject;
  std::vector<std::string> got;
  auto a = subject.sink([&](const int& v) { got.push_back("a" + std::to_string(v)); });
  auto b = subject.sink([&](const int& v) { got.push_back("b" + std::to_string(v)); });
  subject.send(1);
  subject.send(2);
  EXPECT_EQ(got, (std::vector<std::string>{"a1", "b1", "a2", "b2"}));
}

TEST(PassthroughSubject, CancellingEndsTheSubscription) {
  PassthroughSubject<int> subject;
  int count = 0;
  {
    auto sub = subject.sink([&](const int&) { ++count; });
    subject.send(0);
  }
  subject.send(0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(subject.subscriberCount(), 0u);
}

TEST(PassthroughSubject, SubscriberCancelledDuringSendIsNotCalled) {
  PassthroughSubject<void> subject;
  AnyCancellable second;
  int secondCalls = 0;
  auto first = subject.sink([&] { second.cancel(); });
  second = subject.sink([&] { ++secondCalls; });
  subject.send();
  EXPECT_EQ(secondCalls, 0);
}

TEST(PassthroughSubject, CancellableMayOutliveTheSubject) {
  AnyCancellable sub;
  {
    PassthroughSubject<int> subject;
    sub = subject.sink([](const int&) {});
  }
  sub.cancel();  // must not touch the destroyed subject
  SUCCEED();
}

namespace {
struct Model : ObservableObject {
  Published<int> value{this, 1};
};
}  // namespace

TEST(Published, SubscribingSendsTheCurrentValueFirst) {
  Model m;
  std::vector<int> got;
  auto sub = m.value.sink([&](const int& v) { got.push_back(v); });
  m.value = 5;
  EXPECT_EQ(got, (std::vector<int>{1, 5}));
}

TEST(Published, ObjectWillChangeFiresBeforeTheStoreEvenForEqualValues) {
  Model m;
  std::vector<int> seenDuringWillChange;
  auto sub = m.objectWillChange.sink([&] { seenDuringWillChange.push_back(*m.value); });
  m.value = 2;
  m.value = 2;
  EXPECT_EQ(seenDuringWillChange, (std::vector<int>{1, 2}));
  EXPECT_EQ(*m.value, 2);
}

TEST(Published, SubscribersReceiveTheNewValueBeforeItIsStored) {
  Model m;
  int storedWhileNotified = -1;
  auto sub = m.value.sink([&](const int& v) {
    if (v == 9) storedWhileNotified = *m.value;
  });
  m.value = 9;
  EXPECT_EQ(storedWhileNotified, 1);
}
