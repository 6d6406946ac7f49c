// Actions run through the real DLL, as a host runs them: what each answers,
// which variables it asks for and what it publishes.
#include <gtest/gtest.h>

#include <string>

#include "tests/actions/action_cases.h"
#include "tests/actions/recording_host.h"
#include "tests/support/checked_calls.h"
#include "tests/support/plugin_loader.h"

namespace {

std::int32_t __stdcall IgnoreRegister(std::int32_t, const char*, const char*, std::int32_t, std::int32_t,
                                      std::int32_t) {
  return 1;
}

class DllActions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { plugin = LoadPlugin(); }
  void SetUp() override {
    ASSERT_NE(plugin.module, nullptr) << "LoadLibrary failed: " << GetLastError();
    ASSERT_NE(plugin.execAction, nullptr);
    Register(&RecordingGet, &RecordingSet);
  }

  static void Register(GetVariableProc get, SetVariableProc set) {
    CheckedResult r = RegisterChecked(plugin, &IgnoreRegister, get, set);
    ASSERT_STACK_BALANCED(r);
    Recorder.Clear();
  }
  // Runs an action with a parameter cell holding the text's address.
  static std::int32_t Exec(std::int32_t id, const char* text) {
    const char* cell = text;
    return ExecWithCellAddress(id, AsArg(&cell));
  }
  static std::int32_t ExecWithCellAddress(std::int32_t id, HostArg cellAddress) {
    return ExecCell(plugin, id, cellAddress);
  }
  static LoadedPlugin plugin;
};
LoadedPlugin DllActions::plugin;

using Published = std::vector<std::pair<std::string, std::string>>;

TEST_F(DllActions, SettingActionsPublishTheirVariable) {
  for (const SettingCase& c : SettingCases) {
    SCOPED_TRACE(std::to_string(c.id) + " with \"" + c.parameter + "\"");
    Recorder.Clear();
    EXPECT_EQ(Exec(c.id, c.parameter), 1);
    EXPECT_EQ(Recorder.published, (Published{{c.variable, c.published}}));
    EXPECT_TRUE(Recorder.asked.empty());
  }
}

TEST_F(DllActions, UnknownIdsAnswerZeroAndCallNothing) {
  for (std::int32_t id : UnknownIds) {
    SCOPED_TRACE(id);
    Recorder.Clear();
    EXPECT_EQ(Exec(id, "[Freq]"), 0);
    EXPECT_EQ(ExecWithCellAddress(id, 0), 0);
    EXPECT_TRUE(Recorder.asked.empty());
    EXPECT_TRUE(Recorder.published.empty());
  }
}

TEST_F(DllActions, RunControlAndMuteActionsIgnoreTheParameterAndPublishNothing) {
  // A cell address that would fault if read: these actions must not touch it.
  const std::int32_t unreadable = 0x10;
  for (std::int32_t id : {1002, 1003, 1004, 1005, 1000, 1001}) {
    SCOPED_TRACE(id);
    Recorder.Clear({{"Freq", "880"}});
    EXPECT_EQ(ExecWithCellAddress(id, unreadable), 1);
    EXPECT_EQ(Exec(id, "[Freq]"), 1);
    EXPECT_EQ(ExecWithCellAddress(id, 0), 1);
    EXPECT_TRUE(Recorder.asked.empty());
    EXPECT_TRUE(Recorder.published.empty());
  }
}

TEST_F(DllActions, BracketedParametersAreLookedUpOnce) {
  struct Case {
    const char* what;
    const char* parameter;
    std::map<std::string, std::string> variables;
    std::vector<std::string> asked;
    const char* published;
  };
  const Case cases[] = {
      {"a known variable", "[Freq]", {{"Freq", "880"}}, {"Freq"}, "880.00"},
      {"an unknown variable answers 0", "[Freq]", {}, {"Freq"}, "0.00"},
      {"a variable holding the empty text", "[Freq]", {{"Freq", ""}}, {"Freq"}, "0.00"},
      {"one character between brackets", "[F]", {{"F", "12.5"}}, {"F"}, "12.50"},
      {"no name between brackets", "[]", {{"", "880"}}, {}, "0.00"},
      {"no closing bracket", "[Freq", {{"Freq", "880"}}, {}, "0.00"},
      {"no opening bracket", "Freq]", {{"Freq", "880"}}, {}, "0.00"},
      {"brackets inside the text", " [Freq]", {{"Freq", "880"}}, {}, "0.00"},
      {"nested brackets ask for the inner text",
       "[[Freq]]",
       {{"[Freq]", "330"}, {"Freq", "880"}},
       {"[Freq]"},
       "330.00"},
      {"a value with brackets is not looked up again",
       "[Freq]",
       {{"Freq", "[Other]"}, {"Other", "660"}},
       {"Freq"},
       "0.00"},
      {"a special word from the host", "[Freq]", {{"Freq", "-Infinity"}}, {"Freq"}, "-Infinity"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder.Clear(c.variables);
    EXPECT_EQ(Exec(1010, c.parameter), 1);
    EXPECT_EQ(Recorder.asked, c.asked);
    EXPECT_EQ(Recorder.published, (Published{{"Kalvix1FreqLeft", c.published}}));
  }
}

TEST_F(DllActions, MissingHostFunctionsAreSkipped) {
  // No get-variable function: the bracketed text itself is parsed.
  Register(nullptr, &RecordingSet);
  EXPECT_EQ(Exec(1021, "[Freq]"), 1);
  EXPECT_EQ(Recorder.published, (Published{{"Kalvix2FreqRight", "0.00"}}));

  // No set-variable function: the lookup still happens, nothing is published.
  Register(&RecordingGet, nullptr);
  Recorder.Clear({{"Vol", "40"}});
  EXPECT_EQ(Exec(1022, "[Vol]"), 1);
  EXPECT_EQ(Recorder.asked, (std::vector<std::string>{"Vol"}));
  EXPECT_TRUE(Recorder.published.empty());
}

TEST_F(DllActions, ParameterCellAddressZeroDoesNothingAndCellHoldingZeroIsEmpty) {
  for (const SettingCase& c : SettingCases) {
    SCOPED_TRACE(c.id);
    Recorder.Clear();
    EXPECT_EQ(ExecWithCellAddress(c.id, 0), 1);
    EXPECT_TRUE(Recorder.published.empty());
    EXPECT_TRUE(Recorder.asked.empty());

    EXPECT_EQ(Exec(c.id, nullptr), 1);
    bool volume = std::string(c.variable).find("Volume") != std::string::npos;
    EXPECT_EQ(Recorder.published, (Published{{c.variable, volume ? "0.0" : "0.00"}}));
  }
}

// A variable name in the system code page with bytes above 0x7F.
std::string HighByteName() {
  const wchar_t* wide = L"Fr\u00e9q\u00fc\u00c4\u00a3";
  char buffer[64] = {};
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr,
                              GetACP() == CP_UTF8 ? nullptr : &usedDefault);
  EXPECT_GT(n, 1);
  EXPECT_FALSE(usedDefault) << "code page " << GetACP() << " lacks the test's letters";
  return buffer;
}

TEST_F(DllActions, VariableNamesKeepTheirBytesAboveAscii) {
  std::string name = HighByteName();
  bool hasHighByte = false;
  for (unsigned char ch : name) hasHighByte = hasHighByte || ch > 0x7F;
  ASSERT_TRUE(hasHighByte) << "code page " << GetACP();

  Recorder.Clear({{name, "523.25"}});
  std::string parameter = "[" + name + "]";
  EXPECT_EQ(Exec(1011, parameter.c_str()), 1);
  EXPECT_EQ(Recorder.asked, (std::vector<std::string>{name}));
  EXPECT_EQ(Recorder.published, (Published{{"Kalvix1FreqRight", "523.25"}}));
}

TEST_F(DllActions, LongTextsAreHandledWhole) {
  // A 20,000-character parameter: the number at its start counts.
  std::string longParameter = "440" + std::string(19997, 'x');
  Recorder.Clear();
  EXPECT_EQ(Exec(1010, longParameter.c_str()), 1);
  EXPECT_EQ(Recorder.published, (Published{{"Kalvix1FreqLeft", "440.00"}}));

  // A 5,000-character name whose value is itself 20,000 characters long.
  std::string longName(5000, 'N');
  longName.back() = 'Z';
  std::string longValue = "62.5" + std::string(19996, ' ');
  Recorder.Clear({{longName, longValue}});
  std::string lookup = "[" + longName + "]";
  EXPECT_EQ(Exec(1012, lookup.c_str()), 1);
  EXPECT_EQ(Recorder.asked, (std::vector<std::string>{longName}));
  EXPECT_EQ(Recorder.published, (Published{{"Kalvix1VolumeLeft", "62.5"}}));
}

}  // namespace
