// Random actions through the real DLL: ids inside and outside the table,
// parameter cells that are missing, hold 0 or hold texts of random bytes,
// brackets, digits and special words, and a host whose get-variable answers
// 0, the empty text or long random texts. Nothing may crash; every answer is
// 1 exactly for the table's ids; every published text is what the stored
// value's rule gives for the (looked-up) parameter. Size: KQ_SOAK_CALLS calls
// per run, one run with playback off and one with playback on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/number_text.h"
#include "tests/soak/soak_support.h"

namespace {

using namespace soak;

struct SettingRow {
  std::int32_t id;
  const char* variable;
  bool volume;
};
constexpr SettingRow SettingRows[] = {
    {1010, "Kalvix1FreqLeft", false},    {1011, "Kalvix1FreqRight", false},   {1012, "Kalvix1VolumeLeft", true},
    {1013, "Kalvix1VolumeRight", true},  {1014, "Kalvix1MasterVolume", true}, {1020, "Kalvix2FreqLeft", false},
    {1021, "Kalvix2FreqRight", false},   {1022, "Kalvix2VolumeLeft", true},   {1023, "Kalvix2VolumeRight", true},
    {1024, "Kalvix2MasterVolume", true},
};
constexpr std::int32_t ControlIds[] = {1000, 1001, 1002, 1003, 1004, 1005};

const SettingRow* FindSetting(std::int32_t id) {
  for (const SettingRow& row : SettingRows) {
    if (row.id == id) return &row;
  }
  return nullptr;
}
bool InTable(std::int32_t id) {
  for (std::int32_t c : ControlIds) {
    if (c == id) return true;
  }
  return FindSetting(id) != nullptr;
}

// ANSI (the system code page) to UTF-16 and back, as the platform converts.
std::u16string Widen(const std::string& ansi) {
  if (ansi.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), reinterpret_cast<wchar_t*>(wide.data()),
                      n);
  return wide;
}
std::string Narrow(const std::u16string& wide) {
  if (wide.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(wide.data());
  int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), ansi.data(), n, nullptr, nullptr);
  return ansi;
}

// Random texts of the kinds a careless or hostile script passes.
class TextMaker {
 public:
  explicit TextMaker(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t Below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }

  // Lengths 0 to 100,000, most of them short (log-uniform).
  std::size_t Length() {
    if (Below(4) == 0) return Below(8);
    return static_cast<std::size_t>(std::exp(std::uniform_real_distribution<double>(0.0, std::log(100001.0))(rng_))) -
           1;
  }
  // Random nonzero bytes (a zero would end the text early).
  std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(1 + Below(255));
    return s;
  }
  std::string Digits() {
    static const char alphabet[] = "0123456789.-+eE ";
    std::string s(1 + Below(Below(20) == 0 ? 400 : 24), '\0');
    for (char& c : s) c = alphabet[Below(sizeof alphabet - 1)];
    return s;
  }
  std::string Special() {
    static const char* words[] = {"NaN",       "nan",       "+Infinity",
                                  "-Infinity", "+INFINITY", "Infinity",
                                  "inf",       "-inf",      "1e308",
                                  "1e309",     "-1e309",    "4.9e-324",
                                  "1e-400",    "0x1p4",     "-0",
                                  "0",         "100",       "100.0000001",
                                  "150",       "-5",        "  42",
                                  "\t7",       "1,5",       "",
                                  "[",         "]",         "[]",
                                  "[[x]]",     "[Freq",     "Freq]",
                                  "440",       "880.125",   "99999999999999999999999"};
    return words[Below(sizeof words / sizeof *words)];
  }
  std::string Name() {
    switch (Below(3)) {
      case 0: return "Freq";
      case 1: return Bytes(Length());
      default: return Special();
    }
  }
  std::string Parameter() {
    switch (Below(5)) {
      case 0: return Bytes(Length());
      case 1: return "[" + Name() + "]";
      case 2: return Digits();
      case 3: return Special();
      default: return Bytes(Below(3) == 0 ? Length() : Below(4)) + (Below(2) ? "[" : "]");
    }
  }

 private:
  std::mt19937 rng_;
};

// What one setting action must publish: the rule applied to the parameter
// text, with the host's answer for a bracketed name.
struct Expectation {
  bool asks = false;  // get-variable must be called once
  std::string name;   // with this name
  std::string value;  // the published value text
};

Expectation Expect(const SettingRow& row, const std::string* text, bool hasGet) {
  Expectation e;
  std::u16string parameter = text != nullptr ? Widen(*text) : std::u16string();
  if (parameter.size() >= 3 && parameter.front() == u'[' && parameter.back() == u']' && hasGet) {
    e.asks = true;
    std::u16string name = parameter.substr(1, parameter.size() - 2);
    e.name = Narrow(name);
    switch (Host.answer) {
      case GetAnswer::Null:
      case GetAnswer::Empty: parameter.clear(); break;
      case GetAnswer::Text: parameter = Widen(Host.answerText); break;
    }
  }
  double v = ParseNumber(parameter.c_str());
  if (row.volume) {
    if (!(v >= 0.0)) v = 0.0;
    if (v > 100.0) v = 100.0;
    e.value = Narrow(FormatNumber((v / 100.0) * 100.0, 1));
  } else {
    e.value = Narrow(FormatNumber(v, 2));
  }
  return e;
}

struct RunFigures {
  std::int64_t calls = 0, tableCalls = 0, published = 0, lookups = 0, longestText = 0, starts = 0, stops = 0;
};

// Runs `calls` random actions; with `playing`, playback runs throughout and
// start/stop actions come now and then. Stops at the first wrong answer or
// publication, with the call's description.
void RunRandomActions(const LoadedPlugin& p, std::int64_t calls, bool playing, std::uint32_t seed,
                      RunFigures& figures) {
  TextMaker make(seed);
  bool hasGet = true, hasSet = true;
  for (std::int64_t call = 0; call < calls; ++call) {
    // Now and then the host registers again, with or without its functions.
    if (call % 997 == 0) {
      hasGet = make.Below(4) != 0;
      hasSet = make.Below(4) != 0;
      Reregister(p, hasGet ? &HostGet : nullptr, hasSet ? &HostSet : nullptr);
    }
    // The host's answer for this call.
    switch (make.Below(4)) {
      case 0: Host.answer = GetAnswer::Null; break;
      case 1: Host.answer = GetAnswer::Empty; break;
      case 2:
        Host.answer = GetAnswer::Text;
        Host.answerText = make.Bytes(make.Length());
        break;
      default:
        Host.answer = GetAnswer::Text;
        Host.answerText = make.Below(2) ? make.Digits() : make.Special();
        break;
    }

    std::int32_t id;
    switch (make.Below(8)) {
      case 0: id = static_cast<std::int32_t>(make.Below(0xffffffffu) + make.Below(2)); break;
      case 1: id = 990 + static_cast<std::int32_t>(make.Below(46)); break;
      case 2: id = ControlIds[2 + make.Below(4)]; break;
      default: id = SettingRows[make.Below(10)].id; break;
    }
    // With playback off nothing starts it; with playback on, starts come as
    // often as stops and most stops become starts, so it mostly plays.
    if (!playing && id == 1000) id = 1001;
    if (playing && id == 1001 && make.Below(4) != 0) id = 1000;

    // The parameter cell: none, holding 0, or holding a text.
    std::string text;
    const std::string* textPtr = nullptr;
    const char* cell = nullptr;
    HostArg cellAddress = 0;
    const std::uint32_t cellKind = make.Below(10);
    if (cellKind == 0) {
      // No cell; ids that must not read the cell may even get an unreadable one.
      cellAddress = (!FindSetting(id) && make.Below(2)) ? 0x10 : 0;
    } else if (cellKind == 1) {
      cellAddress = AsArg(&cell);
    } else {
      text = make.Parameter();
      textPtr = &text;
      cell = text.c_str();
      cellAddress = AsArg(&cell);
    }
    figures.longestText = std::max<std::int64_t>(figures.longestText, static_cast<std::int64_t>(text.size()));

    const SettingRow* row = FindSetting(id);
    Expectation expected;
    const bool publishes = row != nullptr && cellAddress != 0;
    if (publishes) expected = Expect(*row, textPtr, hasGet);

    Host.Clear();
    std::int32_t answer;
    if (id == 1001) {
      answer = StopWithin(p);
      ++figures.stops;
    } else {
      answer = ExecCell(p, id, cellAddress);
      figures.starts += id == 1000;
    }
    ++figures.calls;
    figures.tableCalls += InTable(id);

    std::string what = "call " + std::to_string(call) + ", id " + std::to_string(id) + ", text of " +
                       std::to_string(text.size()) + " bytes: \"" + text.substr(0, 60) + "\"";
    ASSERT_EQ(answer, InTable(id) ? 1 : 0) << what;
    if (!publishes) {
      ASSERT_EQ(Host.getCalls, 0) << what;
      ASSERT_TRUE(Host.published.empty()) << what;
      continue;
    }
    ASSERT_EQ(Host.getCalls, expected.asks ? 1 : 0) << what;
    if (expected.asks) {
      ASSERT_EQ(Host.lastAsked, expected.name) << what;
      ++figures.lookups;
    }
    if (!hasSet) {
      ASSERT_TRUE(Host.published.empty()) << what;
      continue;
    }
    ASSERT_EQ(Host.published.size(), 1u) << what;
    ASSERT_EQ(Host.published[0].first, row->variable) << what;
    ASSERT_EQ(Host.published[0].second, expected.value) << what;
    ++figures.published;
    if (row->volume) {
      // Independently of the conversions: a volume is published within 0..100.
      const double shown = std::strtod(Host.published[0].second.c_str(), nullptr);
      ASSERT_TRUE(shown >= 0.0 && shown <= 100.0) << what;
    }
  }
}

// After the random calls the module must still do its plain work.
void ExpectPlainActionsStillWork(const LoadedPlugin& p) {
  Reregister(p, &HostGet, &HostSet);
  Host.Clear();
  Host.answer = GetAnswer::Text;
  Host.answerText = "880";
  EXPECT_EQ(Exec(p, 1012, "50"), 1);
  EXPECT_EQ(Exec(p, 1021, "[Freq]"), 1);
  EXPECT_EQ(Host.lastAsked, "Freq");
  using Published = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(Host.published, (Published{{"Kalvix1VolumeLeft", "50.0"}, {"Kalvix2FreqRight", "880.00"}}));
}

// Prints the run's figures and the process figures: before the run, after
// `warmCalls` calls (when not 0) and at the end.
void Report(const char* run, const RunFigures& f, double seconds, const ProcessFigures& before,
            const ProcessFigures& after, std::int64_t warmCalls = 0, const ProcessFigures& warm = {}) {
  std::printf(
      "random actions, %s: %lld calls (%lld with a table id, %lld publications checked, %lld lookups, "
      "%lld starts, %lld stops, longest text %lld bytes) in %.1f s\n",
      run, static_cast<long long>(f.calls), static_cast<long long>(f.tableCalls), static_cast<long long>(f.published),
      static_cast<long long>(f.lookups), static_cast<long long>(f.starts), static_cast<long long>(f.stops),
      static_cast<long long>(f.longestText), seconds);
  PrintFiguresHeading("call");
  PrintFigures(0, before);
  if (warmCalls != 0) PrintFigures(warmCalls, warm);
  PrintFigures(f.calls, after);
}

class RandomActions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(CapturePath().empty()) << "KQ_CAPTURE is not set";
    calls_ = SizeFromEnv("KQ_SOAK_CALLS", 50000);
    p_ = LoadAndRegister();
    ASSERT_NE(p_.module, nullptr) << "the DLL did not load: " << GetLastError();
    Host.keepPublished = true;
  }
  void TearDown() override {
    if (p_.module != nullptr) {
      EXPECT_EQ(StopWithin(p_), 1);
      EXPECT_TRUE(FreeLibrary(p_.module));
    }
    EXPECT_EQ(Host.badBlocks, 0) << "blocks the DLL handed over that GlobalFree refused";
  }
  LoadedPlugin p_;
  std::int64_t calls_ = 0;
};

TEST_F(RandomActions, WithPlaybackOff) {
  RunFigures figures;
  const ProcessFigures before = MeasureProcess();
  const ULONGLONG t0 = GetTickCount64();
  ResetCapture();
  // A tenth of the calls first, so that every buffer and heap reaches its
  // working size; the rest must then leave handles and committed memory
  // where they were.
  RunRandomActions(p_, calls_ / 10, false, 7001, figures);
  ASSERT_FALSE(HasFatalFailure());
  const ProcessFigures warm = SettledFigures();
  RunRandomActions(p_, calls_ - calls_ / 10, false, 7003, figures);
  ASSERT_FALSE(HasFatalFailure());
  const ProcessFigures after = SettledFigures();
  Report("playback off", figures, (GetTickCount64() - t0) / 1000.0, before, after, calls_ / 10, warm);
  EXPECT_EQ(CaptureBytes(), -1) << "something played";
  EXPECT_LE(after.handles, warm.handles) << "handles grew with the calls";
  EXPECT_LE(after.committed, warm.committed + (1 << 20)) << "committed memory grew with the calls";
  ExpectPlainActionsStillWork(p_);
}

TEST_F(RandomActions, WithPlaybackOn) {
  RunFigures figures;
  const ProcessFigures before = MeasureProcess();
  const ULONGLONG t0 = GetTickCount64();
  ResetCapture();
  ASSERT_EQ(Exec(p_, 1000), 1);
  RunRandomActions(p_, calls_, true, 7002, figures);
  // Still playing: the capture grows.
  ASSERT_EQ(Exec(p_, 1000), 1);
  const std::int64_t atEnd = std::max<std::int64_t>(CaptureBytes(), 0);
  EXPECT_TRUE(WaitForCapture(atEnd + 8 * FramesPerBuffer * BytesPerFrame, 10000)) << "the sound stalled";
  ASSERT_EQ(StopWithin(p_), 1);
  Report("playback on", figures, (GetTickCount64() - t0) / 1000.0, before, MeasureProcess());
  ExpectPlainActionsStillWork(p_);

  // And a new run plays exact words for known settings.
  const Tone tone = {{440.0, 554.25, 659.25, 880.5}, {100, 90, 80, 70}, {100, 100}};
  ASSERT_TRUE(SendTone(p_, tone));
  for (std::int32_t id : {1003, 1005}) ASSERT_EQ(Exec(p_, id), 1);  // both generators sounding
  ASSERT_TRUE(PlayAtLeast(p_, 16 * FramesPerBuffer, 20000));
  ASSERT_EQ(StopWithin(p_), 1);
  Comparison c = CompareCaptureWithTone(tone);
  EXPECT_EQ(c.firstMismatch, -1) << "first different frame: " << c.firstMismatch;
  EXPECT_GE(c.framesCompared, 16 * FramesPerBuffer);
}

}  // namespace
