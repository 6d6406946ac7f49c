#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "test_signals.h"
#include "tools/analysis.h"
#include "tools/report.h"

extern char** environ;

namespace {

struct ToolRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Runs the built kq-analyze with `args`, capturing its output in files.
ToolRun RunTool(const std::vector<std::string>& args) {
  const std::string out = TempPath("tool.out"), err = TempPath("tool.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all = {KQ_ANALYZE_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  ToolRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, KQ_ANALYZE_PATH, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.Status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.Out = ReadAll(out);
  run.Err = ReadAll(err);
  return run;
}

std::string Fixed2(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// Two tones on the left with a listed spur (3rd harmonic 80 dB down), the
// right side silent.
TestSignal TwoToneSignal() {
  TestSignal s;
  s.Spans = {{0, {{1000.0, -14.0}, {3150.37, -40.0, 1.0}, {3000.0, -94.0}}, {}}};
  return s;
}

// The table's figures for each segment and side, in printed order.
struct TableSide {
  std::string Peak, Dc, Sfdr, ThdN;
  std::vector<std::pair<std::string, std::string>> Tones, Spurs;
};

std::vector<TableSide> ParseTable(const std::string& table) {
  std::vector<TableSide> sides;
  const std::regex head(R"(^  (left|right)\s+peak word (\d+)  DC (\S+)  SFDR (\S+)(?: dB)?  THD\+N (\S+)(?: dB)?$)");
  const std::regex line(R"(^\s+(tone|spur)\s+(\S+) Hz\s+(\S+) dBFS$)");
  std::istringstream in(table);
  std::string text;
  std::smatch m;
  while (std::getline(in, text)) {
    if (std::regex_match(text, m, head)) {
      sides.push_back({m[2], m[3], m[4], m[5], {}, {}});
    } else if (std::regex_match(text, m, line) && !sides.empty()) {
      (m[1] == "tone" ? sides.back().Tones : sides.back().Spurs).push_back({m[2], m[3]});
    }
  }
  return sides;
}

std::string JsonFigure(const nlohmann::json& v) { return v.is_null() ? "-" : Fixed2(v.get<double>()); }

TEST(Report, JsonParsesAndCarriesTheTablesFigures) {
  const std::string path = WriteTestWav(TwoToneSignal(), "two_tone.wav");
  WavRecording wav;
  std::string error;
  ASSERT_TRUE(ReadWavRecording(path, wav, error)) << error;
  const AnalysisReport report = AnalyseRecording(wav, path, {}, AnalysisSettings{});
  const std::vector<TableSide> table = ParseTable(FormatReportTable(report));
  const nlohmann::json doc = nlohmann::json::parse(FormatReportJson(report));

  ASSERT_EQ(doc["segments"].size(), 1u);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(doc["level_convention"], "0 dBFS = sine of peak 32767");
  const char* names[2] = {"left", "right"};
  for (int s = 0; s < 2; ++s) {
    const nlohmann::json& side = doc["segments"][0][names[s]];
    EXPECT_EQ(table[s].Peak, std::to_string(side["peak_word"].get<int>())) << names[s];
    EXPECT_EQ(table[s].Dc, JsonFigure(side["dc_word"])) << names[s];
    EXPECT_EQ(table[s].Sfdr, JsonFigure(side["sfdr_db"])) << names[s];
    EXPECT_EQ(table[s].ThdN, JsonFigure(side["thd_n_db"])) << names[s];
    for (const char* kind : {"tones", "spurs"}) {
      const auto& rows = std::string(kind) == "tones" ? table[s].Tones : table[s].Spurs;
      ASSERT_EQ(rows.size(), side[kind].size()) << names[s] << ' ' << kind;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].first, Fixed2(side[kind][i]["frequency_hz"].get<double>()));
        EXPECT_EQ(rows[i].second, Fixed2(side[kind][i]["level_dbfs"].get<double>()));
      }
    }
  }
  // The figures themselves: two tones and the spur on the left, nothing right.
  const nlohmann::json& left = doc["segments"][0]["left"];
  ASSERT_EQ(left["tones"].size(), 2u);
  EXPECT_NEAR(left["tones"][1]["frequency_hz"].get<double>(), 3150.37, 0.01);
  ASSERT_GE(left["spurs"].size(), 1u);
  EXPECT_NEAR(left["spurs"][0]["frequency_hz"].get<double>(), 3000.0, 0.01);
  EXPECT_NEAR(left["sfdr_db"].get<double>(), 80.0, 1.0);
  EXPECT_TRUE(doc["segments"][0]["right"]["tones"].empty());
  EXPECT_TRUE(doc["segments"][0]["right"]["sfdr_db"].is_null());
}

// Each segment's times are its frames over the rate, and a side with nothing
// in it (silent, or held at a constant) has no noise floor.
TEST(Report, JsonTimesFollowTheFramesAndASilentSideHasNoFloor) {
  TestSignal s;
  s.Spans = {{0, {{1000.0, -20.0}}, {}}};
  WavRecording wav;
  wav.SampleRate = s.Rate;
  wav.Left = SynthesiseSide(s, 0);
  wav.Right.assign(wav.Left.size(), 0);
  std::fill(wav.Right.begin() + 66150, wav.Right.end(), std::int16_t{-6553});
  const std::vector<SegmentSpan> spans = {{11025, 55125}, {88200, 132300}, {4410, 30870}};
  AnalysisReport report = AnalyseRecording(wav, "times.wav", spans, AnalysisSettings{});
  report.Warnings = {"one", "two"};
  const nlohmann::json doc = nlohmann::json::parse(FormatReportJson(report));
  ASSERT_EQ(doc["segments"].size(), spans.size());
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const nlohmann::json& seg = doc["segments"][i];
    EXPECT_EQ(seg["start_frame"].get<std::int64_t>(), spans[i].Start);
    EXPECT_EQ(seg["end_frame"].get<std::int64_t>(), spans[i].End);
    EXPECT_DOUBLE_EQ(seg["start_s"].get<double>(), static_cast<double>(spans[i].Start) / 44100.0) << i;
    EXPECT_DOUBLE_EQ(seg["end_s"].get<double>(), static_cast<double>(spans[i].End) / 44100.0) << i;
    EXPECT_TRUE(seg["right"]["noise_floor_dbfs_per_bin"].is_null()) << i;
    EXPECT_TRUE(seg["left"]["noise_floor_dbfs_per_bin"].is_number()) << i;
  }
  EXPECT_EQ(doc["warnings"], nlohmann::json({"one", "two"}));
}

TEST(Report, JsonSurvivesAFileNameThatIsNotUtf8) {
  AnalysisReport report;
  report.FileName = "bad\xff\xfename.wav";
  report.SampleRate = 44100.0;
  const nlohmann::json doc = nlohmann::json::parse(FormatReportJson(report));
  EXPECT_TRUE(doc["segments"].empty());
  EXPECT_NE(doc["file"].get<std::string>().find("name.wav"), std::string::npos);
}

TEST(CommandLine, PrintsJsonTableAndPicture) {
  const std::string path = WriteTestWav(TwoToneSignal(), "cli two tone.wav");
  const ToolRun json = RunTool({"--json", path});
  ASSERT_EQ(json.Status, 0) << json.Err;
  const nlohmann::json doc = nlohmann::json::parse(json.Out);
  ASSERT_EQ(doc["segments"].size(), 1u);
  EXPECT_NEAR(doc["segments"][0]["left"]["tones"][0]["frequency_hz"].get<double>(), 1000.0, 0.01);

  const ToolRun table = RunTool({path, "--segment", "0.5:2.5"});
  ASSERT_EQ(table.Status, 0) << table.Err;
  EXPECT_NE(table.Out.find("Segment 1: 0.500-2.500 s (frames 22050-110250)"), std::string::npos) << table.Out;
  EXPECT_NE(table.Out.find("tone     1000.00 Hz    -14.00 dBFS"), std::string::npos) << table.Out;

  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot not installed";
  // Quotes and spaces in the picture's name must reach gnuplot intact.
  const std::string png = TempPath("it's a plot.png");
  const ToolRun plot = RunTool({path, "--plot", png});
  ASSERT_EQ(plot.Status, 0) << plot.Err;
  const std::string bytes = ReadAll(png);
  ASSERT_GT(bytes.size(), 1000u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

void WriteRawWav(const std::string& path, int format, int channels, sf_count_t frames = 1000) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<short> zeros(static_cast<std::size_t>(frames * channels), 0);
  if (frames > 0) sf_writef_short(f, zeros.data(), frames);
  sf_close(f);
}

// Warnings reach standard error and the JSON's warnings array alike.
TEST(CommandLine, WarnsOnStandardErrorAndInJson) {
  TestSignal s;
  s.Spans = {{0, {{1000.0, -20.0}, {1002.0, -20.0, 0.5}}, {{440.0, -20.0}}}};
  const std::string path = WriteTestWav(s, "warned.wav");
  // Cut the data chunk to half the frames its header declares.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 66150 * 4);
  const ToolRun run = RunTool({"--json", path});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const nlohmann::json doc = nlohmann::json::parse(run.Out);
  ASSERT_EQ(doc["warnings"].size(), 2u) << doc["warnings"].dump();
  EXPECT_EQ(
      doc["warnings"][0].get<std::string>().rfind("the data chunk declares 132300 frames but the file holds 66150", 0),
      0u);
  EXPECT_EQ(
      doc["warnings"][1].get<std::string>().rfind("segment 1 (0.000-1.500 s), left: tones about 2.00 Hz apart", 0), 0u);
  const ToolRun table = RunTool({path});
  for (const ToolRun* r : {&run, &table})
    for (const auto& w : doc["warnings"])
      EXPECT_NE(r->Err.find("kq-analyze: warning: " + w.get<std::string>() + "\n"), std::string::npos) << r->Err;
}

TEST(CommandLine, RejectsWhatItCannotMeasure) {
  const std::string mono = TempPath("mono.wav"), wide = TempPath("24bit.wav"), flt = TempPath("float.wav");
  const std::string empty = TempPath("empty.wav");
  const std::string text = TempPath("text.wav"), good = WriteTestWav(TwoToneSignal(), "ok.wav");
  WriteRawWav(mono, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
  WriteRawWav(wide, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2);
  WriteRawWav(flt, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2);
  WriteRawWav(empty, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 0);
  std::ofstream(text) << "not a sound file\n";
  struct Case {
    std::vector<std::string> Args;
    int Status;
    const char* Message;
  };
  const Case cases[] = {
      {{TempPath("missing.wav")}, 1, "cannot read"},
      {{text}, 1, "cannot read"},
      {{mono}, 1, "expected 2 channels"},
      {{wide}, 1, "expected 16-bit PCM"},
      {{flt}, 1, "expected 16-bit PCM"},
      {{empty}, 1, "holds no samples to measure"},
      {{good, "--segment", "2:1"}, 1, "ends before it starts"},
      {{good, "--segment", "1:1.00001"}, 1, "is shorter than one frame"},
      {{good, "--segment", "0:4"}, 1, "beyond the recording's end"},
      {{good, "--plot", TempPath("no such folder") + "/x.png"}, 2, "gnuplot failed"},
  };
  for (const Case& c : cases) {
    const ToolRun run = RunTool(c.Args);
    EXPECT_EQ(run.Status, c.Status) << c.Args.back();
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << c.Args.back() << ": " << run.Err;
  }
}

}  // namespace
