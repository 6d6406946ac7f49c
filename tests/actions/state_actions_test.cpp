// Actions run through the module's own code linked into this program, so the
// generator's fields can be read directly: what is stored, and that it is
// stored before the host is told.
#include <gtest/gtest.h>

#include <string>

#include "engine/generator_state.h"
#include "plugin/module.h"
#include "plugin/entry_points.h"
#include "tests/actions/action_cases.h"
#include "tests/actions/recording_host.h"

namespace {

std::int32_t __stdcall IgnoreRegister(std::int32_t, const char*, const char*, std::int32_t, std::int32_t,
                                      std::int32_t) {
  return 1;
}

// The field a publish should already show, and what it held when the host was told.
const std::atomic<double>* WatchedField = nullptr;
std::vector<double> SeenAtPublish;

std::int32_t __stdcall WatchingSet(const char* name, const char* value) {
  if (WatchedField != nullptr) SeenAtPublish.push_back(Load(*WatchedField));
  return RecordingSet(name, value);
}

struct Snapshot {
  double settings[10];
  std::int32_t muted[2];
};
Snapshot TakeSnapshot() {
  const GeneratorStateRecord& g = GeneratorState;
  return {{Load(g.Gen1FreqLeft), Load(g.Gen1FreqRight), Load(g.Gen1VolumeLeft), Load(g.Gen1VolumeRight),
           Load(g.Gen1MasterVolume), Load(g.Gen2FreqLeft), Load(g.Gen2FreqRight), Load(g.Gen2VolumeLeft),
           Load(g.Gen2VolumeRight), Load(g.Gen2MasterVolume)},
          {Load(g.Gen1Muted), Load(g.Gen2Muted)}};
}
void ExpectSameSnapshot(const Snapshot& a, const Snapshot& b) {
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(SameDouble(a.settings[i], b.settings[i])) << "setting " << i;
  EXPECT_EQ(a.muted[0], b.muted[0]);
  EXPECT_EQ(a.muted[1], b.muted[1]);
}

class StateActions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ModuleAttach(); }
  static void TearDownTestSuite() { ModuleDetach(false); }
  void SetUp() override {
    LoadDefaults();
    Register(&RecordingGet, &WatchingSet);
    WatchedField = nullptr;
    SeenAtPublish.clear();
  }
  static void Register(GetVariableProc get, SetVariableProc set) {
    _nbRegisterPlugIn(&IgnoreRegister, 0, get, set);
    Recorder.Clear();
  }
  static std::int32_t Exec(std::int32_t id, const char* text) {
    const char* cell = text;
    return _nbExecAction(id, &cell);
  }
};

TEST_F(StateActions, SettingActionsStoreBeforeTheyPublish) {
  for (const SettingCase& c : SettingCases) {
    SCOPED_TRACE(std::to_string(c.id) + " with \"" + c.parameter + "\"");
    std::atomic<double>& field = GeneratorState.*(c.field);
    Store(field, 12345.0);
    WatchedField = &field;
    SeenAtPublish.clear();
    EXPECT_EQ(Exec(c.id, c.parameter), 1);
    EXPECT_TRUE(SameDouble(Load(field), c.stored)) << Load(field);
    ASSERT_EQ(SeenAtPublish.size(), 1u);
    EXPECT_TRUE(SameDouble(SeenAtPublish[0], c.stored)) << "the host was told before the store";
  }
}

TEST_F(StateActions, SettingsAreStoredWithoutAnyHostFunction) {
  Register(nullptr, nullptr);
  for (const SettingCase& c : SettingCases) {
    SCOPED_TRACE(std::to_string(c.id) + " with \"" + c.parameter + "\"");
    EXPECT_EQ(Exec(c.id, c.parameter), 1);
    EXPECT_TRUE(SameDouble(Load(GeneratorState.*(c.field)), c.stored));
  }
  // A bracketed name is then parsed as it stands.
  Store(GeneratorState.Gen1FreqLeft, 5.0);
  EXPECT_EQ(Exec(1010, "[Freq]"), 1);
  EXPECT_EQ(Load(GeneratorState.Gen1FreqLeft), 0.0);
  EXPECT_TRUE(Recorder.asked.empty());
  EXPECT_TRUE(Recorder.published.empty());
}

TEST_F(StateActions, LookedUpValueIsStored) {
  Recorder.Clear({{"Freq", "880"}, {"Loud", "250"}});
  EXPECT_EQ(Exec(1021, "[Freq]"), 1);
  EXPECT_EQ(Exec(1023, "[Loud]"), 1);
  EXPECT_EQ(Load(GeneratorState.Gen2FreqRight), 880.0);
  EXPECT_EQ(Load(GeneratorState.Gen2VolumeRight), 1.0);
}

TEST_F(StateActions, ParameterCellAddressZeroLeavesTheFieldAndCellHoldingZeroClearsIt) {
  for (const SettingCase& c : SettingCases) {
    SCOPED_TRACE(c.id);
    std::atomic<double>& field = GeneratorState.*(c.field);
    Store(field, 0.25);
    Snapshot before = TakeSnapshot();
    EXPECT_EQ(_nbExecAction(c.id, nullptr), 1);
    ExpectSameSnapshot(TakeSnapshot(), before);

    EXPECT_EQ(Exec(c.id, nullptr), 1);
    EXPECT_TRUE(SameDouble(Load(field), 0.0)) << Load(field);
  }
  EXPECT_TRUE(Recorder.asked.empty());
}

TEST_F(StateActions, MuteActionsSetTheirFlagOnly) {
  struct Case {
    std::int32_t id;
    std::int32_t gen1Muted;
    std::int32_t gen2Muted;
  };
  // Applied in order; each answers 1 whatever its parameter.
  const Case cases[] = {{1002, 1, 0}, {1004, 1, 1}, {1003, 0, 1}, {1002, 1, 1}, {1005, 1, 0}, {1003, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    Snapshot before = TakeSnapshot();
    EXPECT_EQ(Exec(c.id, "[Freq]"), 1);
    Snapshot after = TakeSnapshot();
    EXPECT_EQ(after.muted[0], c.gen1Muted);
    EXPECT_EQ(after.muted[1], c.gen2Muted);
    after.muted[0] = before.muted[0];
    after.muted[1] = before.muted[1];
    ExpectSameSnapshot(after, before);
  }
  EXPECT_TRUE(Recorder.asked.empty());
  EXPECT_TRUE(Recorder.published.empty());
}

TEST_F(StateActions, UnknownIdsChangeNothing) {
  Recorder.Clear({{"Freq", "880"}});
  Snapshot before = TakeSnapshot();
  for (std::int32_t id : UnknownIds) {
    SCOPED_TRACE(id);
    EXPECT_EQ(Exec(id, "[Freq]"), 0);
    EXPECT_EQ(_nbExecAction(id, nullptr), 0);
  }
  ExpectSameSnapshot(TakeSnapshot(), before);
  EXPECT_TRUE(Recorder.asked.empty());
  EXPECT_TRUE(Recorder.published.empty());
}

}  // namespace
