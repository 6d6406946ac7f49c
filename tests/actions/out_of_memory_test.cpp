// An action whose texts cannot be allocated: no exception may reach the host,
// the call answers 0, and nothing is stored or published half-way. This
// program replaces the global allocator so that the k-th allocation from a
// chosen moment on fails, for every k the action reaches.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/generator_state.h"
#include "plugin/entry_points.h"
#include "plugin/module.h"
#include "tests/actions/action_cases.h"

namespace {
// Allocations left until the one that fails; 0 when none is armed.
std::atomic<int> allocationsUntilFailure{0};
}  // namespace

void* operator new(std::size_t bytes) {
  const int left = allocationsUntilFailure.load();
  if (left > 0) {
    allocationsUntilFailure.store(left - 1);
    if (left == 1) throw std::bad_alloc();
  }
  if (void* block = HeapAlloc(GetProcessHeap(), 0, bytes != 0 ? bytes : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace {

// A host that allocates nothing while the plug-in runs: it answers one fixed
// value and keeps the last publication in fixed arrays. Texts are longer
// than a string holds without allocating, so every step that copies one
// needs memory.
int publications = 0;
char publishedName[64];
char publishedValue[64];

std::int32_t __stdcall IgnoreRegister(std::int32_t, const char*, const char*, std::int32_t, std::int32_t,
                                      std::int32_t) {
  return 1;
}
const char* __stdcall AnswerVolume(const char*) { return "42.50000000000000"; }
std::int32_t __stdcall KeepPublication(const char* name, const char* value) {
  ++publications;
  std::strncpy(publishedName, name != nullptr ? name : "", sizeof publishedName - 1);
  std::strncpy(publishedValue, value != nullptr ? value : "", sizeof publishedValue - 1);
  return 1;
}

std::array<double, 10> Settings() {
  const GeneratorStateRecord& g = GeneratorState;
  return {Load(g.Gen1FreqLeft),     Load(g.Gen1FreqRight),   Load(g.Gen1VolumeLeft), Load(g.Gen1VolumeRight),
          Load(g.Gen1MasterVolume), Load(g.Gen2FreqLeft),    Load(g.Gen2FreqRight),  Load(g.Gen2VolumeLeft),
          Load(g.Gen2VolumeRight),  Load(g.Gen2MasterVolume)};
}

struct Case {
  std::int32_t id;
  const char* parameter;
  std::atomic<double> GeneratorStateRecord::*field;
  double stored;
  const char* name;
  const char* value;
};
const Case Cases[] = {
    {1010, "440.250000000000000", &GeneratorStateRecord::Gen1FreqLeft, 440.25, "Kalvix1FreqLeft", "440.25"},
    {1023, "[RightChannelLevel]", &GeneratorStateRecord::Gen2VolumeRight, 0.425, "Kalvix2VolumeRight", "42.5"},
    // A published text too long to hold without allocating.
    {1021, "1000000000000000000000", &GeneratorStateRecord::Gen2FreqRight, 1e21, "Kalvix2FreqRight",
     "1000000000000000000000.00"},
    {1014, "250.000000000000000", &GeneratorStateRecord::Gen1MasterVolume, 1.0, "Kalvix1MasterVolume", "100.0"},
};

class OutOfMemory : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ModuleAttach();
    _nbRegisterPlugIn(&IgnoreRegister, 0, &AnswerVolume, &KeepPublication);
  }
  static void TearDownTestSuite() { ModuleDetach(false); }
};

TEST_F(OutOfMemory, ASettingThatCannotMakeItsTextsChangesNothing) {
  for (const Case& c : Cases) {
    SCOPED_TRACE(std::to_string(c.id) + " with \"" + c.parameter + "\"");
    const char* cell = c.parameter;
    int k = 1;
    for (;; ++k) {
      SCOPED_TRACE("allocation " + std::to_string(k) + " fails");
      LoadDefaults();
      const std::array<double, 10> before = Settings();
      publications = 0;
      allocationsUntilFailure.store(k);
      const std::int32_t answer = _nbExecAction(c.id, &cell);
      const bool failed = allocationsUntilFailure.load() == 0;
      allocationsUntilFailure.store(0);
      if (failed) {
        EXPECT_EQ(answer, 0);
        EXPECT_EQ(publications, 0) << "published " << publishedName << " = " << publishedValue;
        const std::array<double, 10> after = Settings();
        for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(SameDouble(after[i], before[i])) << "setting " << i;
        continue;
      }
      // The action made fewer than k allocations: it ran to its end.
      EXPECT_EQ(answer, 1);
      EXPECT_TRUE(SameDouble(Load(GeneratorState.*(c.field)), c.stored));
      ASSERT_EQ(publications, 1);
      EXPECT_STREQ(publishedName, c.name);
      EXPECT_STREQ(publishedValue, c.value);
      break;
    }
    // Otherwise no allocation was ever made to fail, and nothing was shown.
    EXPECT_GT(k, 1) << "the action allocated nothing";
    std::printf("action %d: each of its %d allocations failed in turn\n", c.id, k - 1);
  }
}

}  // namespace
