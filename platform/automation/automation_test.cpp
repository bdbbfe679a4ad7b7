// Variant conversions, the error state and its handling styles, collections
// and the class registry.
#include <gtest/gtest.h>

#include <limits>

#include "platform/automation/collection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/object.h"
#include "platform/automation/variant.h"

namespace velnor::automation {
namespace {

int32_t ErrorNumberOf(auto&& statement) {
  Err().Clear();
  ResumeNext(statement);
  int32_t number = Err().Number();
  Err().Clear();
  return number;
}

TEST(VariantTest, ConversionsFailLikeAutomation) {
  EXPECT_EQ(ErrorNumberOf([] { CLng(Variant(Null{})); }), kErrInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { CLng(Variant("abc")); }), kErrTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { CLng(Variant(3e9)); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CLng(Variant(ObjectRef{})); }),
            kErrTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { CStr(Variant(Null{})); }), kErrInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { ArrayItem(StringArray{}, 0); }),
            kErrSubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([] { CLngLng(Variant(9.3e18)); }), kErrOverflow);
}

TEST(VariantTest, ConversionsSucceedLikeAutomation) {
  EXPECT_EQ(CLng(Variant(true)), -1);
  EXPECT_EQ(CLng(Variant(2.5)), 2);  // half to even
  EXPECT_EQ(CLng(Variant(3.5)), 4);
  EXPECT_EQ(CLng(Variant(" 42 ")), 42);
  EXPECT_EQ(CLng(Variant()), 0);
  EXPECT_EQ(CLng(Variant(std::numeric_limits<int32_t>::max())),
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(CLngLng(Variant(int64_t{5000000000})), 5000000000);
  EXPECT_EQ(CStr(Variant(int32_t{12})), "12");
  EXPECT_EQ(CStr(Variant(false)), "False");
  EXPECT_EQ(CStr(Variant(1.5)), "1.5");
  EXPECT_EQ(CStr(Variant()), "");
  EXPECT_EQ(CLng(Variant("True")), -1);
  EXPECT_DOUBLE_EQ(CDate(Variant("2007-03-12 14:05:09")),
                   39153.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0);
}

TEST(VariantTest, TypesAndSplit) {
  EXPECT_TRUE(Variant(Null{}).IsNull());
  EXPECT_EQ(Variant(int16_t{0}).Type(), VarType::kInteger);
  EXPECT_EQ(Variant(Date{1}).Type(), VarType::kDate);
  EXPECT_EQ(UBound(Split("", ",")), -1);
  EXPECT_EQ(Split("a,,b", ","), (StringArray{"a", "", "b"}));
}

TEST(ErrorStateTest, HandlerRunsOncePerFailingStatementAndResumes) {
  Err().Clear();
  std::vector<int32_t> logged;
  ErrorHandler handler([&] { logged.push_back(Err().Number()); });
  int reached = 0;
  handler([] { Raise(kErrOverflow); });
  handler([&] { ++reached; });
  handler([] { throw std::runtime_error("boom"); });
  EXPECT_EQ(reached, 1);
  EXPECT_EQ(logged,
            (std::vector<int32_t>{kErrOverflow, kErrInvalidProcedureCall}));
  EXPECT_EQ(Err().Number(), 0);  // cleared when resuming
}

TEST(ErrorStateTest, ResumeNextKeepsTheErrorPending) {
  Err().Clear();
  EXPECT_FALSE(ResumeNext([] { Raise(3021, "Either BOF or EOF"); }));
  EXPECT_EQ(Err().Number(), 3021);
  EXPECT_EQ(Err().Description(), "Either BOF or EOF");
  EXPECT_TRUE(ResumeNext([] {}));
  EXPECT_EQ(Err().Number(), 3021);  // success does not clear
  Err().Clear();
  EXPECT_EQ(Err().Description(), "");
}

TEST(CollectionTest, ItemsFromOneInOrder) {
  Collection c({"a", "b"});
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Item(1), "a");
  EXPECT_EQ(ErrorNumberOf([&] { c.Item(3); }), kErrSubscriptOutOfRange);
  std::string joined;
  for (const auto& item : c) joined += item;
  EXPECT_EQ(joined, "ab");
}

class Greeter : public Object {
 public:
  void CallMethod(std::string_view name) override {
    if (name != "Hello") Object::CallMethod(name);
    ++calls;
  }
  int calls = 0;
};

TEST(ObjectTest, CreateAndCallByName) {
  auto greeter = std::make_shared<Greeter>();
  RegisterClass("Test.Greeter", [greeter] { return greeter; });
  ObjectRef created = CreateObject("Test.Greeter");
  CallByName(created, "Hello");
  EXPECT_EQ(greeter->calls, 1);
  EXPECT_EQ(ErrorNumberOf([&] { CallByName(created, "Bye"); }),
            kErrMemberNotSupported);
  EXPECT_EQ(ErrorNumberOf([] { CreateObject("No.Such"); }),
            kErrCantCreateObject);
  EXPECT_EQ(ErrorNumberOf([] { CallByName(nullptr, "Hello"); }),
            kErrObjectNotSet);
  EXPECT_EQ(ErrorNumberOf([] { CreateObjectAs<Collection>("Test.Greeter"); }),
            kErrTypeMismatch);
}

}  // namespace
}  // namespace velnor::automation
