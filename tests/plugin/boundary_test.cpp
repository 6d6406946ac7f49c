// The DLL's boundary as a host sees it: the five entry points, the identity
// texts, registration of the sixteen actions, and the blocks handed over.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/plugin_loader.h"

namespace {

std::vector<RegisteredAction> registered;

std::int32_t __stdcall RecordRegister(std::int32_t id, const char* name, const char* description, std::int32_t flag,
                                      std::int32_t fifth, std::int32_t sixth) {
  registered.push_back({id, name ? name : "", description ? description : "", flag, fifth, sixth, name, description});
  return 1;
}
const char* __stdcall NoVariable(const char*) { return nullptr; }
std::int32_t __stdcall IgnoreSet(const char*, const char*) { return 1; }
int setCalls = 0;
std::int32_t __stdcall CountSet(const char*, const char*) {
  ++setCalls;
  return 1;
}

struct ExpectedAction {
  std::int32_t id;
  const char* name;
  const char* description;
  std::int32_t flag;
};
const ExpectedAction Expected[] = {
    {1000, "Kalvix_Start", "Start orvane-precision tone generator.", 0},
    {1001, "Kalvix_Stop", "Stop orvane-precision tone generator.", 0},
    {1002, "MuteGen1", "Mute Generator 1.", 0},
    {1003, "UnMuteGen1", "Unmute Generator 1.", 0},
    {1004, "MuteGen2", "Mute Generator 2.", 0},
    {1005, "UnMuteGen2", "Unmute Generator 2.", 0},
    {1010, "SetKalvix1FreqLeft", "Set Generator 1 left channel frequency Hz.", 1},
    {1011, "SetKalvix1FreqRight", "Set Generator 1 right channel frequency Hz.", 1},
    {1012, "SetKalvix1VolumeLeft", "Set Generator 1 left channel volume 0-100.", 1},
    {1013, "SetKalvix1VolumeRight", "Set Generator 1 right channel volume 0-100.", 1},
    {1014, "SetKalvix1MasterVolume", "Set Generator 1 master volume 0-100.", 1},
    {1020, "SetKalvix2FreqLeft", "Set Generator 2 left channel frequency Hz.", 1},
    {1021, "SetKalvix2FreqRight", "Set Generator 2 right channel frequency Hz.", 1},
    {1022, "SetKalvix2VolumeLeft", "Set Generator 2 left channel volume 0-100.", 1},
    {1023, "SetKalvix2VolumeRight", "Set Generator 2 right channel volume 0-100.", 1},
    {1024, "SetKalvix2MasterVolume", "Set Generator 2 master volume 0-100.", 1},
};

// A host text: a fixed GlobalAlloc block of exactly length + 1 bytes.
void ExpectHostBlock(const char* block, const char* text) {
  ASSERT_NE(block, nullptr) << text;
  EXPECT_STREQ(block, text);
  EXPECT_EQ(GlobalHandle(block), static_cast<HGLOBAL>(const_cast<char*>(block))) << "not a fixed block: " << text;
  EXPECT_EQ(GlobalSize(const_cast<char*>(block)), std::strlen(text) + 1) << text;
}

class Boundary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { plugin = LoadPlugin(); }
  void SetUp() override {
    ASSERT_NE(plugin.module, nullptr) << "LoadLibrary failed: " << GetLastError();
    registered.clear();
  }
  std::vector<RegisteredAction> Register(GetVariableProc get, SetVariableProc set) {
    registered.clear();
    CheckedResult r = RegisterChecked(plugin, &RecordRegister, get, set, 0x5eed);
    EXPECT_EQ(r.value, 0);
    EXPECT_STACK_BALANCED(r);
    return registered;
  }
  static LoadedPlugin plugin;
};
LoadedPlugin Boundary::plugin;

std::int32_t __cdecl CallerCleans(std::int32_t a, std::int32_t b) { return a + b; }

TEST(StackCheck, SeesACallerCleanedFunction) {
  if (!StackBalanceCheckable) GTEST_SKIP() << "x64: one calling convention, the caller owns the stack";
  CheckedResult r = CallChecked(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CallerCleans)), {2, 3});
  EXPECT_EQ(r.value, 5);
  EXPECT_EQ(r.espDelta, -8);
}

TEST_F(Boundary, EveryEntryPointResolvesAndRemovesExactlyItsArguments) {
  struct Case {
    const char* name;
    FARPROC fn;
    std::vector<HostArg> args;
    std::int32_t result;
  };
  const Case cases[] = {
      {"_nbInitPlugIn", plugin.initPlugIn, {7, 0, 0, 0}, 0}, {"_nbExecAction", plugin.execAction, {999, 0}, 0},
      {"_nbExecAction", plugin.execAction, {1002, 0}, 1},    {"_nbEditAction", plugin.editAction, {}, 1},
      {"_nbMessage", plugin.message, {123, 456}, 0},         {"_nbMessage", plugin.message, {0, 0}, 0},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.fn, nullptr) << c.name;
    CheckedResult r = CallChecked(c.fn, c.args);
    EXPECT_EQ(r.value, c.result) << c.name;
    EXPECT_STACK_BALANCED(r) << c.name << " left the stack unbalanced";
  }
  // The registration entry point is exercised by the registration tests.
  EXPECT_NE(plugin.registerPlugIn, nullptr);
  CallChecked(plugin.execAction, {1003, 0});  // leave generator 1 unmuted
}

TEST_F(Boundary, IdentityTextsArriveAsFreshBlocks) {
  char* cells[2][3] = {};
  for (auto& c : cells) {
    CheckedResult r = CallChecked(plugin.initPlugIn, {0, AsArg(&c[0]), AsArg(&c[1]), AsArg(&c[2])});
    EXPECT_EQ(r.value, 0);
    ExpectHostBlock(c[0], "Kalvix Quad ORVANE");
    ExpectHostBlock(c[1], "Pellacor");
    ExpectHostBlock(c[2], "ORVANE PRECISION: Maximum spectral purity tone generator with 4 independent channels.");
  }
  for (int i = 0; i < 3; ++i) EXPECT_NE(cells[0][i], cells[1][i]) << "text " << i << " handed over twice";
}

TEST_F(Boundary, ZeroCellsAreSkipped) {
  char* const sentinel = reinterpret_cast<char*>(0x1234);
  char* author = sentinel;
  EXPECT_EQ(CallChecked(plugin.initPlugIn, {0, 0, AsArg(&author), 0}).value, 0);
  ExpectHostBlock(author, "Pellacor");
  char* name = sentinel;
  char* description = sentinel;
  EXPECT_EQ(CallChecked(plugin.initPlugIn, {0, AsArg(&name), 0, AsArg(&description)}).value, 0);
  ExpectHostBlock(name, "Kalvix Quad ORVANE");
  ExpectHostBlock(description, "ORVANE PRECISION: Maximum spectral purity tone generator with 4 independent channels.");
}

TEST_F(Boundary, RegistersTheSixteenActionsInTableOrder) {
  for (bool withVariables : {true, false}) {
    SCOPED_TRACE(withVariables ? "with get/set functions" : "with get/set 0");
    std::vector<RegisteredAction> got = withVariables ? Register(&NoVariable, &IgnoreSet) : Register(nullptr, nullptr);
    ASSERT_EQ(got.size(), std::size(Expected));
    for (size_t i = 0; i < got.size(); ++i) {
      const ExpectedAction& e = Expected[i];
      SCOPED_TRACE(e.name);
      EXPECT_EQ(got[i].id, e.id);
      ExpectHostBlock(got[i].nameBlock, e.name);
      ExpectHostBlock(got[i].descriptionBlock, e.description);
      EXPECT_EQ(got[i].flag, e.flag);
      EXPECT_EQ(got[i].fifth, -1);
      EXPECT_EQ(got[i].sixth, e.flag);
    }
  }
}

TEST_F(Boundary, RegisteringAgainHandsOverNewBlocks) {
  std::vector<RegisteredAction> first = Register(&NoVariable, &IgnoreSet);
  std::vector<RegisteredAction> second = Register(&NoVariable, &IgnoreSet);
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].name, second[i].name);
    EXPECT_NE(first[i].nameBlock, second[i].nameBlock);
    EXPECT_NE(first[i].descriptionBlock, second[i].descriptionBlock);
  }
}

TEST_F(Boundary, ZeroRegisterFunctionIsNotCalledButTheOtherCallbacksAreKept) {
  setCalls = 0;
  CheckedResult r = RegisterChecked(plugin, nullptr, &NoVariable, &CountSet, 0x5eed);
  EXPECT_EQ(r.value, 0);
  EXPECT_STACK_BALANCED(r);
  const char* const text = "100";  // the master gain's load-time value
  EXPECT_EQ(CallChecked(plugin.execAction, {1014, AsArg(&text)}).value, 1);
  EXPECT_EQ(setCalls, 1) << "the set-variable function was not kept";
}

}  // namespace
