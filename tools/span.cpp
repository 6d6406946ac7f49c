// Span parsing: "START:END" in seconds to frames of a recording.
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "tools/analysis.h"

bool ParseSegmentSpan(const std::string& text, const WavRecording& wav, SegmentSpan& out, std::string& error) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
    error = "segment '" + text + "' is not START:END";
    return false;
  }
  double t[2];
  const std::string parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
  for (int i = 0; i < 2; ++i) {
    const char* begin = parts[i].c_str();
    char* end = nullptr;
    errno = 0;
    t[i] = std::strtod(begin, &end);
    if (parts[i].empty() || end == begin || *end != '\0' || errno != 0 || !std::isfinite(t[i]) || t[i] < 0.0) {
      error = "segment '" + text + "': '" + parts[i] + "' is not a time in seconds";
      return false;
    }
  }
  const auto total = static_cast<std::int64_t>(std::min(wav.Left.size(), wav.Right.size()));
  const double start = std::round(t[0] * wav.SampleRate), end = std::round(t[1] * wav.SampleRate);
  if (!(t[1] > t[0])) {
    error = "segment '" + text + "' " + (t[1] < t[0] ? "ends before it starts" : "ends where it starts");
    return false;
  }
  if (!(end > start)) {
    error = "segment '" + text + "' is shorter than one frame (1/" +
            std::to_string(static_cast<long long>(wav.SampleRate)) + " s): it holds no sample";
    return false;
  }
  if (end > static_cast<double>(total)) {
    error = "segment '" + text + "' goes beyond the recording's end";
    return false;
  }
  out = {static_cast<std::int64_t>(start), static_cast<std::int64_t>(end)};
  return true;
}
