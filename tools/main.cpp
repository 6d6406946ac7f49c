// kq-analyze: measures the tones in a recording of the generator's output.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/analysis.h"
#include "tools/plot.h"
#include "tools/report.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Spectrum analyser for 16-bit stereo recordings of the tone generator.\n"
      "Per side and per segment: every tone (frequency, level in dBFS where 0 dBFS\n"
      "is a sine of peak 32767), SFDR, THD+N and the peak word."};
  std::string input, plotPath;
  bool json = false;
  std::vector<std::string> segmentTexts;
  AnalysisSettings settings;
  app.add_option("wav", input, "Recording to analyse (16-bit PCM, 2 channels)")->required();
  app.add_flag("--json", json, "Print JSON instead of the table");
  app.add_option("--plot", plotPath, "Draw the spectra into this PNG file (needs gnuplot)");
  app.add_option("--segment", segmentTexts, "Analyse START:END (seconds) instead of detecting segments; repeatable");
  app.add_option("--threshold-db", settings.ThresholdDb, "Detection margin over the noise floor per bin (dB)")
      ->check(CLI::Range(3.0, 100.0));
  app.add_option("--max-tones", settings.MaxTones, "Tones per side; further components are spurs")
      ->check(CLI::Range(1, 16));
  app.add_option("--tone-range", settings.ToneRangeDb,
                 "Components further below the strongest are spurs unless expected (dB; 0: no limit)")
      ->check(CLI::Range(0.0, 200.0));
  app.add_option("--expect-left", settings.ExpectedHz[0],
                 "A frequency known to have been played on the left (Hz): a component there is a tone, "
                 "even on a louder tone's harmonic; repeatable");
  app.add_option("--expect-right", settings.ExpectedHz[1], "The same for the right side; repeatable");
  app.add_option("--max-spurs", settings.MaxSpursListed, "Spurs listed per side")->check(CLI::Range(0, 1000));
  app.add_option("--change-db", settings.ChangeDb, "Level step that starts a new segment (dB)")
      ->check(CLI::Range(0.05, 60.0));
  app.add_option("--change-hz", settings.ChangeHz, "Frequency step that starts a new segment (Hz)")
      ->check(CLI::Range(0.01, 10000.0));
  app.add_option("--frame", settings.FrameLength, "Frames per short-time spectrum for segment detection")
      ->check(CLI::Range(512, 65536));
  CLI11_PARSE(app, argc, argv);

  WavRecording wav;
  std::string error;
  if (!ReadWavRecording(input, wav, error)) {
    std::fprintf(stderr, "kq-analyze: %s\n", error.c_str());
    return 1;
  }
  if (wav.Left.empty()) {
    std::fprintf(stderr, "kq-analyze: '%s' holds no samples to measure\n", input.c_str());
    return 1;
  }
  std::vector<SegmentSpan> spans;
  for (const std::string& text : segmentTexts) {
    SegmentSpan span;
    if (!ParseSegmentSpan(text, wav, span, error)) {
      std::fprintf(stderr, "kq-analyze: %s\n", error.c_str());
      return 1;
    }
    spans.push_back(span);
  }
  const AnalysisReport report = AnalyseRecording(wav, input, spans, settings);
  for (const std::string& warning : report.Warnings) std::fprintf(stderr, "kq-analyze: warning: %s\n", warning.c_str());
  const std::string text = json ? FormatReportJson(report) : FormatReportTable(report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (!plotPath.empty() && !DrawSpectrumPicture(wav, report, plotPath, error)) {
    std::fprintf(stderr, "kq-analyze: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
