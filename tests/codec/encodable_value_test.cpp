#include "codec/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <variant>
#include <vector>

namespace flutter::testing {
namespace {

using Value = EncodableValue;

// Asserts a < b and not b < a, with the three-way comparison and equality
// agreeing.
void ExpectOrdered(const Value& a, const Value& b) {
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_LT(Compare(a, b), 0);
  EXPECT_GT(Compare(b, a), 0);
  EXPECT_FALSE(a == b);
}

// Asserts that neither value is less than the other.
void ExpectEquivalent(const Value& a, const Value& b) {
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_EQ(Compare(a, b), 0);
  EXPECT_EQ(Compare(b, a), 0);
}

TEST(EncodableValueTest, AlternativesKeepTheirIndex) {
  EXPECT_EQ(Value().index(), 0u);
  EXPECT_TRUE(Value().IsNull());
  EXPECT_EQ(Value(true).index(), 1u);
  EXPECT_EQ(Value(int32_t{1}).index(), 2u);
  EXPECT_EQ(Value(int64_t{1}).index(), 3u);
  EXPECT_EQ(Value(1.0).index(), 4u);
  EXPECT_EQ(Value("config").index(), 5u);  // text is a string, never a bool
  EXPECT_EQ(Value(std::string("x")).index(), 5u);
  EXPECT_EQ(Value(std::vector<uint8_t>{}).index(), 6u);
  EXPECT_EQ(Value(std::vector<int32_t>{}).index(), 7u);
  EXPECT_EQ(Value(std::vector<int64_t>{}).index(), 8u);
  EXPECT_EQ(Value(std::vector<double>{}).index(), 9u);
  EXPECT_EQ(Value(ValueList{}).index(), 10u);
  EXPECT_EQ(Value(ValueMap{}).index(), 11u);
  EXPECT_EQ(Value(CustomValue(5)).index(), 12u);
  EXPECT_EQ(Value(std::vector<float>{}).index(), 13u);
}

TEST(EncodableValueTest, AlternativeIndexDecidesFirst) {
  ExpectOrdered(Value(), Value(false));
  ExpectOrdered(Value(int32_t{1000}), Value(int64_t{1}));
  ExpectOrdered(Value(int64_t{5}), Value(0.0));
  ExpectOrdered(Value(1e300), Value(""));
  ExpectOrdered(Value(std::vector<double>{9}), Value(ValueList{}));
  ExpectOrdered(Value(CustomValue(1)), Value(std::vector<float>{}));
  ExpectOrdered(Value(ValueMap{}), Value(CustomValue(1)));
}

TEST(EncodableValueTest, ScalarsCompareByPayload) {
  ExpectEquivalent(Value(), Value());
  ExpectOrdered(Value(false), Value(true));
  ExpectOrdered(Value(int32_t{-1}), Value(int32_t{0}));
  ExpectOrdered(Value(int64_t{-1}), Value(int64_t{0}));
  ExpectOrdered(Value(-0.5), Value(0.25));
  ExpectEquivalent(Value(int32_t{7}), Value(int32_t{7}));
}

TEST(EncodableValueTest, StringsCompareAsUnsignedBytes) {
  ExpectOrdered(Value(""), Value("a"));
  ExpectOrdered(Value("a"), Value("ab"));
  ExpectOrdered(Value("ab"), Value("b"));
  ExpectOrdered(Value("x\x7f"), Value("x\x80"));
  ExpectOrdered(Value(std::string("a\0b", 3)), Value(std::string("a\0c", 3)));
}

TEST(EncodableValueTest, TypedListsCompareLexicographically) {
  ExpectOrdered(Value(std::vector<uint8_t>{0x7f}),
                Value(std::vector<uint8_t>{0x80}));
  ExpectOrdered(Value(std::vector<int32_t>{-1}),
                Value(std::vector<int32_t>{0}));
  ExpectOrdered(Value(std::vector<int64_t>{1, 2}),
                Value(std::vector<int64_t>{1, 2, 0}));
  ExpectOrdered(Value(std::vector<float>{1, 2, 9}),
                Value(std::vector<float>{1, 3}));
}

TEST(EncodableValueTest, NaNDecidesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ExpectEquivalent(Value(nan), Value(1.0));
  ExpectEquivalent(Value(nan), Value(nan));
  // The walk passes over the undecided NaN position to the next one.
  ExpectOrdered(Value(std::vector<double>{nan, 1}),
                Value(std::vector<double>{0, 2}));
  ExpectOrdered(Value(std::vector<float>{std::nanf(""), 1}),
                Value(std::vector<float>{5, 2}));
  ExpectOrdered(Value(std::vector<double>{nan}),
                Value(std::vector<double>{nan, nan}));
  EXPECT_FALSE(Value(nan) == Value(nan));
}

TEST(EncodableValueTest, ListsCompareElementWise) {
  ExpectOrdered(Value(ValueList{}), Value(ValueList{Value()}));
  ExpectOrdered(Value(ValueList{1, 2}), Value(ValueList{1, 2, 0}));
  ExpectOrdered(Value(ValueList{1, 2, 9}), Value(ValueList{1, 3}));
  // Elements compare across alternatives by index too.
  ExpectOrdered(Value(ValueList{int32_t{9}}), Value(ValueList{int64_t{0}}));
}

TEST(EncodableValueTest, MapsCompareEntriesKeyFirst) {
  ExpectOrdered(Value(ValueMap{{1, "a"}}), Value(ValueMap{{1, "b"}}));
  ExpectOrdered(Value(ValueMap{{1, "z"}}), Value(ValueMap{{2, "a"}}));
  ExpectOrdered(Value(ValueMap{}), Value(ValueMap{{Value(), Value()}}));
  ExpectOrdered(Value(ValueMap{{1, "a"}}), Value(ValueMap{{1, "a"}, {2, "a"}}));
}

TEST(EncodableValueTest, MapKeysOrderByIndexThenPayload) {
  ValueMap numbers{{int64_t{1}, "long"}, {int32_t{1}, "int"}};
  ASSERT_EQ(numbers.size(), 2u);
  EXPECT_EQ(numbers.begin()->first.index(), 2u);

  ValueMap mixed{{"b", 1}, {2, 2}, {Value(), 3}};
  std::vector<Value> keys;
  for (const auto& entry : mixed) keys.push_back(entry.first);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_TRUE(keys[0].IsNull());
  EXPECT_EQ(keys[1], Value(2));
  EXPECT_EQ(keys[2], Value("b"));
}

TEST(EncodableValueTest, CustomValuesOrderByIdentity) {
  Value a(CustomValue(std::string("held")));
  Value b(CustomValue(std::string("held")));
  ExpectEquivalent(a, a);
  EXPECT_NE(a < b, b < a);
  EXPECT_TRUE(a == a);
  EXPECT_FALSE(a == b);
  const auto& custom = std::get<CustomValue>(a);
  ASSERT_NE(custom.TryGet<std::string>(), nullptr);
  EXPECT_EQ(*custom.TryGet<std::string>(), "held");
  EXPECT_EQ(custom.TryGet<int>(), nullptr);
}

TEST(EncodableValueTest, CopiesAreDeep) {
  Value original(ValueMap{{"list", ValueList{1, ValueList{2, 3}}}});
  Value copy = original;
  auto& inner = std::get<ValueList>(std::get<ValueMap>(copy)[Value("list")]);
  std::get<ValueList>(inner[1]).push_back(4);
  inner.push_back("more");
  EXPECT_EQ(original, Value(ValueMap{{"list", ValueList{1, ValueList{2, 3}}}}));
  EXPECT_NE(original, copy);
}

TEST(EncodableValueTest, MovedFromValueStaysUsable) {
  Value source(ValueList{1, 2, 3});
  Value target = std::move(source);
  EXPECT_EQ(std::get<ValueList>(target).size(), 3u);
  source = "reused";  // NOLINT(bugprone-use-after-move): must stay assignable
  EXPECT_EQ(source, Value("reused"));
}

TEST(EncodableValueTest, AccessFormsOnMismatch) {
  Value number(int32_t{4});
  EXPECT_EQ(number.GetIf<std::string>(), nullptr);
  EXPECT_EQ(std::get_if<std::string>(&number), nullptr);
  ASSERT_NE(number.GetIf<int32_t>(), nullptr);
  EXPECT_EQ(*number.GetIf<int32_t>(), 4);
  EXPECT_EQ(number.Get<int32_t>(), 4);
  try {
    (void)number.Get<std::string>();
    ADD_FAILURE() << "no exception";
  } catch (const std::bad_variant_access& error) {
    EXPECT_STREQ(error.what(), "bad variant access");
  }
}

}  // namespace
}  // namespace flutter::testing
