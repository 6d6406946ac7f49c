// The portable action steps through a recording boundary: what each action
// stores, looks up and publishes, and which boundary functions it calls.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/generator_state.h"
#include "plugin/portable/run_action.h"
#include "tests/actions/action_cases.h"

namespace {

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }
std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

struct BoundaryLog {
  int starts = 0;
  int stops = 0;
  int parameterReads = 0;
  bool offersLookUp = true;
  std::map<std::string, std::string> variables;
  std::vector<std::string> asked;
  std::vector<std::pair<std::string, std::string>> published;
  const std::atomic<double>* watched = nullptr;  // the field a publish should already show
  std::vector<double> seenAtPublish;
} Log;

const ActionBoundary Recording = {
    [] { ++Log.starts; },
    [] { ++Log.stops; },
    [](const void* cell) {
      ++Log.parameterReads;
      const char* text = *static_cast<const char* const*>(cell);
      return Widen(text != nullptr ? text : "");
    },
    [](const std::u16string& name, std::u16string& value) {
      if (!Log.offersLookUp) return false;
      Log.asked.push_back(Narrow(name));
      auto it = Log.variables.find(Narrow(name));
      value = it != Log.variables.end() ? Widen(it->second) : std::u16string();
      return true;
    },
    [](const char16_t* name, const char16_t* value) {
      if (Log.watched != nullptr) Log.seenAtPublish.push_back(Load(*Log.watched));
      Log.published.emplace_back(Narrow(name), Narrow(value));
    },
};

std::int32_t RunWithText(std::int32_t id, const char* text) {
  const char* cell = text;
  return RunAction(Recording, id, &cell);
}

class RunActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadDefaults();
    Log = BoundaryLog{};
  }
};

using Published = std::vector<std::pair<std::string, std::string>>;

TEST_F(RunActionTest, SettingsAreStoredThenPublished) {
  for (const SettingCase& c : SettingCases) {
    SCOPED_TRACE(std::to_string(c.id) + " with \"" + c.parameter + "\"");
    std::atomic<double>& field = GeneratorState.*(c.field);
    Store(field, 12345.0);
    Log = BoundaryLog{};
    Log.watched = &field;
    EXPECT_EQ(RunWithText(c.id, c.parameter), 1);
    EXPECT_TRUE(SameDouble(Load(field), c.stored)) << Load(field);
    EXPECT_EQ(Log.published, (Published{{c.variable, c.published}}));
    ASSERT_EQ(Log.seenAtPublish.size(), 1u);
    EXPECT_TRUE(SameDouble(Log.seenAtPublish[0], c.stored)) << "published before the store";
    EXPECT_TRUE(Log.asked.empty());
  }
}

TEST_F(RunActionTest, BracketedNamesAreLookedUpOneLevel) {
  struct Case {
    const char* parameter;
    bool offersLookUp;
    std::vector<std::string> asked;
    double stored;
  };
  const Case cases[] = {
      {"[Freq]", true, {"Freq"}, 880.0},
      {"[Missing]", true, {"Missing"}, 0.0},
      {"[[Freq]]", true, {"[Freq]"}, 0.0},
      {"[Again]", true, {"Again"}, 0.0},  // its value "[Freq]" is parsed, not looked up again
      {"[]", true, {}, 0.0},
      {"[Freq", true, {}, 0.0},
      {"[Freq]", false, {}, 0.0},  // no look-up: the bracketed text is parsed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.parameter) + (c.offersLookUp ? "" : " without look-up"));
    Log = BoundaryLog{};
    Log.offersLookUp = c.offersLookUp;
    Log.variables = {{"Freq", "880"}, {"Again", "[Freq]"}};
    Store(GeneratorState.Gen2FreqLeft, 1.0);
    EXPECT_EQ(RunWithText(1020, c.parameter), 1);
    EXPECT_EQ(Log.asked, c.asked);
    EXPECT_EQ(Load(GeneratorState.Gen2FreqLeft), c.stored);
  }
}

TEST_F(RunActionTest, NullCellAnswersOneAndTouchesNothing) {
  for (const ActionRow& row : ActionTable) {
    if (row.kind != ActionKind::Setting) continue;
    SCOPED_TRACE(row.id);
    Store(GeneratorState.*(row.setting), 0.25);
    EXPECT_EQ(RunAction(Recording, row.id, nullptr), 1);
    EXPECT_EQ(Load(GeneratorState.*(row.setting)), 0.25);
  }
  EXPECT_EQ(Log.parameterReads, 0);
  EXPECT_TRUE(Log.published.empty());
}

TEST_F(RunActionTest, ControlActionsNeverReadTheCell) {
  struct Case {
    std::int32_t id;
    int starts, stops;
    std::int32_t gen1Muted, gen2Muted;
  };
  // Applied in order.
  const Case cases[] = {{1000, 1, 0, 0, 0}, {1002, 1, 0, 1, 0}, {1004, 1, 0, 1, 1},
                        {1003, 1, 0, 0, 1}, {1005, 1, 0, 0, 0}, {1001, 1, 1, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    // A cell that would fault if read.
    EXPECT_EQ(RunAction(Recording, c.id, reinterpret_cast<const void*>(std::uintptr_t{0x10})), 1);
    EXPECT_EQ(Log.starts, c.starts);
    EXPECT_EQ(Log.stops, c.stops);
    EXPECT_EQ(Load(GeneratorState.Gen1Muted), c.gen1Muted);
    EXPECT_EQ(Load(GeneratorState.Gen2Muted), c.gen2Muted);
  }
  EXPECT_EQ(Log.parameterReads, 0);
  EXPECT_TRUE(Log.published.empty());
}

TEST_F(RunActionTest, UnknownIdsAnswerZeroAndCallNothing) {
  for (std::int32_t id : UnknownIds) {
    SCOPED_TRACE(id);
    EXPECT_EQ(RunWithText(id, "[Freq]"), 0);
    EXPECT_EQ(RunAction(Recording, id, nullptr), 0);
  }
  EXPECT_EQ(Log.starts + Log.stops + Log.parameterReads, 0);
  EXPECT_TRUE(Log.asked.empty());
  EXPECT_TRUE(Log.published.empty());
}

// Every row's columns agree with each other: the kinds in id order, a field
// for every row that sets one, and each variable named after its action.
TEST(ActionTableTest, RowsAreConsistent) {
  const ActionKind controls[] = {ActionKind::Start,  ActionKind::Stop, ActionKind::Mute,
                                 ActionKind::Unmute, ActionKind::Mute, ActionKind::Unmute};
  for (int i = 0; i < ActionCount; ++i) {
    const ActionRow& row = ActionTable[i];
    SCOPED_TRACE(Narrow(row.name));
    EXPECT_EQ(FindAction(row.id), &row);
    if (i < 6) {
      EXPECT_EQ(row.id, 1000 + i);
      EXPECT_EQ(row.kind, controls[i]);
      EXPECT_EQ(row.paramFlag, 0);
      EXPECT_EQ(row.muteFlag != nullptr, i >= 2);
      continue;
    }
    EXPECT_EQ(row.id, (i < 11 ? 1010 + (i - 6) : 1020 + (i - 11)));
    EXPECT_EQ(row.kind, ActionKind::Setting);
    EXPECT_EQ(row.paramFlag, 1);
    ASSERT_NE(row.setting, nullptr);
    const std::string name = Narrow(row.name);
    EXPECT_EQ(Narrow(row.variable), name.substr(3));
    const bool frequency = name.find("Freq") != std::string::npos;
    EXPECT_EQ(row.evaluation, frequency ? Evaluation::Frequency : Evaluation::Volume);
  }
}

}  // namespace
