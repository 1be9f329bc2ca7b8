// The scenario language and the JSON conversions of the stand-in UI: what
// scenario authors write and what transcript readers parse.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "stand_ins/engine/json_line.h"
#include "stand_ins/engine/json_value.h"
#include "stand_ins/engine/scenario.h"

namespace stand_in::testing {
namespace {

using flutter::EncodableValue;
using stand_in::ParseJson;
using stand_in::ParseScenario;
using stand_in::ScenarioStep;
using stand_in::StepKind;
using stand_in::ToJson;

TEST(ScenarioFormat, ReadsEveryStepWithItsDefaults) {
  std::vector<ScenarioStep> steps;
  std::string error;
  ASSERT_TRUE(
      ParseScenario("# comment\r\n"
                    "\n"
                    "channel other/channel\n"
                    "  call connect {\"config\": \"a b\"}  \n"
                    "send stage\n"
                    "raw 07 05 73\n"
                    "wait_reply\n"
                    "wait_stage connected 500\n"
                    "wait_visible\n"
                    "sleep 25\n"
                    "close",
                    &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 9u);
  EXPECT_EQ(steps[0].kind, StepKind::kChannel);
  EXPECT_EQ(steps[0].name, "other/channel");
  EXPECT_EQ(steps[0].line, 3);
  EXPECT_EQ(steps[1].kind, StepKind::kCall);
  EXPECT_EQ(steps[1].name, "connect");
  EXPECT_EQ(steps[1].json, "{\"config\": \"a b\"}");
  EXPECT_EQ(steps[1].ms, 30000);
  EXPECT_EQ(steps[2].kind, StepKind::kSend);
  EXPECT_TRUE(steps[2].json.empty());
  EXPECT_EQ(steps[3].bytes, (std::vector<uint8_t>{0x07, 0x05, 0x73}));
  EXPECT_EQ(steps[4].ms, 30000);
  EXPECT_EQ(steps[5].name, "connected");
  EXPECT_EQ(steps[5].ms, 500);
  EXPECT_EQ(steps[6].ms, 10000);
  EXPECT_EQ(steps[7].ms, 25);
  EXPECT_EQ(steps[8].kind, StepKind::kClose);
  EXPECT_EQ(steps[8].line, 11);
}

TEST(ScenarioFormat, RefusesMalformedLinesNamingTheLine) {
  const char* const kBad[] = {
      "call",
      "channel",
      "channel a b",
      "raw 0",
      "raw zz",
      "wait_stage",
      "wait_reply x",
      "wait_visible -5",
      "sleep",
      "sleep 10 more",
      "close now",
      "conect stage",
      "wait_stage a 1 2",
  };
  for (const char* line : kBad) {
    std::vector<ScenarioStep> steps;
    std::string error;
    EXPECT_FALSE(ParseScenario(std::string("sleep 1\n") + line, &steps, &error))
        << line;
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_EQ(steps.size(), 1u);
  }
}

TEST(JsonArguments, NumbersTakeTheNarrowestFittingType) {
  EncodableValue value;
  ASSERT_TRUE(
      ParseJson("[2147483647, -2147483648, 2147483648, 1.5, 1e3]", &value));
  const auto& list = std::get<flutter::ValueList>(value);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(std::get<int32_t>(list[0]), 2147483647);
  EXPECT_EQ(std::get<int32_t>(list[1]), -2147483647 - 1);
  EXPECT_EQ(std::get<int64_t>(list[2]), 2147483648LL);
  EXPECT_EQ(std::get<double>(list[3]), 1.5);
  EXPECT_EQ(std::get<double>(list[4]), 1000.0);
}

TEST(JsonArguments, StringsMapsAndEscapesRoundTrip) {
  EncodableValue value;
  ASSERT_TRUE(ParseJson(
      " {\"config\":\"[Interface]\\nKey = \\\"q\\\"\\t\\u00e9\\ud83d\\ude00\","
      "\"n\":null,\"b\":[true,false],\"m\":{}} ",
      &value));
  const auto& map = std::get<flutter::ValueMap>(value);
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue("config"))),
            "[Interface]\nKey = \"q\"\t\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_TRUE(map.at(EncodableValue("n")).IsNull());
  EXPECT_EQ(ToJson(value),
            "{\"b\":[true,false],\"config\":\"[Interface]\\nKey = "
            "\\\"q\\\"\\t\xC3\xA9\xF0\x9F\x98\x80\",\"m\":{},\"n\":null}");
}

TEST(JsonArguments, MalformedTextIsRefused) {
  const char* const kBad[] = {"",        "{",           "[1,]", "{\"a\" 1}",
                              "\"open",  "tru",         "1 2",  "{1:2}",
                              "\"\\x\"", "\"\\ud800\"", "-",    "[\"a\"\n"};
  for (const char* text : kBad) {
    EncodableValue value;
    EXPECT_FALSE(ParseJson(text, &value)) << text;
  }
}

TEST(TranscriptJson, EveryValueKindHasAJsonForm) {
  EXPECT_EQ(ToJson(EncodableValue()), "null");
  EXPECT_EQ(ToJson(EncodableValue(int64_t{-5})), "-5");
  EXPECT_EQ(ToJson(EncodableValue(2.0)), "2.0");
  EXPECT_EQ(ToJson(EncodableValue(std::vector<uint8_t>{1, 255})), "[1,255]");
  EXPECT_EQ(ToJson(EncodableValue(std::vector<double>{0.5})), "[0.5]");
  flutter::ValueMap map{{EncodableValue(int32_t{7}), EncodableValue("x")}};
  EXPECT_EQ(ToJson(EncodableValue(map)), "{\"7\":\"x\"}");
}

TEST(TranscriptJson, InvalidUtf8AndControlBytesStayValidJson) {
  EXPECT_EQ(stand_in::JsonLine::Quote(std::string("a\xFF\x01\xC3", 4)),
            "\"a\\u00ff\\u0001\\u00c3\"");
  // An overlong encoding of '/' is not UTF-8 either.
  EXPECT_EQ(stand_in::JsonLine::Quote("\xC0\xAF"), "\"\\u00c0\\u00af\"");
}

}  // namespace
}  // namespace stand_in::testing
