#include "tools/offline_render.h"

#include <chrono>
#include <string>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "plugin/portable/run_action.h"

namespace {

// UTF-8 (the script's encoding) to the module's UTF-16. A byte that does not
// begin a well-formed sequence becomes U+FFFD.
std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    // The lead byte gives the sequence's length and its first bits.
    std::size_t extra = 0;
    char32_t c = b;
    char32_t least = 0;
    bool ok = true;
    if (b >= 0xF0 && b < 0xF8) {
      extra = 3;
      c = b & 0x07;
      least = 0x10000;
    } else if (b >= 0xE0 && b < 0xF0) {
      extra = 2;
      c = b & 0x0F;
      least = 0x800;
    } else if (b >= 0xC0 && b < 0xE0) {
      extra = 1;
      c = b & 0x1F;
      least = 0x80;
    } else {
      ok = b < 0x80;
    }
    ok = ok && i + extra < text.size();
    for (std::size_t k = 1; ok && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    ok = ok && c >= least && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    if (!ok) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  return out;
}

// The module's UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const char16_t* text) {
  std::string out;
  for (const char16_t* p = text; *p != u'\0'; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// The render's one record. The action boundary's functions reach it
// directly, as the plug-in's reach its host.
struct RenderRecord {
  ScriptHostRecord* host = nullptr;
  bool playing = false;
} Render;

// Start and stop as the plug-in's run control does them: a start while
// playing changes nothing, a start otherwise restarts the counters.
void StartRun() {
  if (Render.playing) return;
  ResetCounters();
  Render.playing = true;
}
void StopRun() { Render.playing = false; }

std::u16string ParameterText(const void* parameterCell) {
  return FromUtf8(*static_cast<const std::string*>(parameterCell));
}

// The host always offers a look-up; a variable it does not hold is empty.
bool LookUpVariable(const std::u16string& name, std::u16string& value) {
  const std::string* found = FindHostVariable(*Render.host, ToUtf8(name.c_str()));
  value = found != nullptr ? FromUtf8(*found) : std::u16string();
  return true;
}

void PublishVariable(const char16_t* name, const char16_t* value) {
  PublishHostVariable(*Render.host, ToUtf8(name), ToUtf8(value));
}

constexpr ActionBoundary RenderBoundary = {&StartRun, &StopRun, &ParameterText, &LookUpVariable, &PublishVariable};

ActionId StopActionId() {
  for (const ActionRow& row : ActionTable) {
    if (row.kind == ActionKind::Stop) return row.id;
  }
  return 0;
}

ActionKind KindOf(const ScriptHostRecord& host, const std::string& name) {
  const HostAction* action = FindHostAction(host, name);
  const ActionRow* row = action != nullptr ? FindAction(action->id) : nullptr;
  return row != nullptr ? row->kind : ActionKind::Setting;
}

// Fills buffers and writes them until the file holds `target` frames.
class Filler {
 public:
  Filler(WavOut& out, std::int64_t total, bool progress) : out_(out), total_(total), progress_(progress) {}

  bool FillTo(std::int64_t target, std::string& error) {
    while (out_.writtenFrames < target) {
      FillBuffer(bytes_, static_cast<std::int32_t>(RenderBufferFrames));
      for (std::size_t i = 0; i < std::size(words_); ++i) {
        words_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes_[2 * i] | (bytes_[2 * i + 1] << 8)));
      }
      if (!WriteWavFrames(out_, words_, RenderBufferFrames, error)) return false;
      if (progress_ && ++sinceCheck_ == 64) Progress();
    }
    return true;
  }

  // Clears the progress line, if one was shown.
  void Finish() {
    if (shown_) std::fprintf(stderr, "\r%60s\r", "");
  }

 private:
  // At most four times a second, once the render has taken half a second.
  void Progress() {
    sinceCheck_ = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - begin_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\rkq-render: %.1f s of %.1f s rendered ", static_cast<double>(out_.writtenFrames) / 44100.0,
                 static_cast<double>(total_) / 44100.0);
    std::fflush(stderr);
  }

  WavOut& out_;
  const std::int64_t total_;
  const bool progress_;
  unsigned char bytes_[RenderBufferFrames * 4];
  std::int16_t words_[RenderBufferFrames * 2];
  int sinceCheck_ = 0;
  bool shown_ = false;
  std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

std::int64_t BoundaryFrames(std::uint64_t scriptMillis) {
  // ms * 44.1 frames, over 2048, rounded half up: (ms * 441 + 10240) / 20480.
  return static_cast<std::int64_t>((scriptMillis * 441 + 10240) / 20480) * RenderBufferFrames;
}

void RegisterPluginActions(ScriptHostRecord& host) {
  for (const ActionRow& row : ActionTable) {
    RegisterHostAction(host, HostAction{row.id, ToUtf8(row.name), ToUtf8(row.description), row.paramFlag});
  }
}

bool PlanRender(const ScriptHostRecord& host, const std::vector<ScriptCommand>& commands, RenderPlan& plan) {
  plan = RenderPlan{};
  bool playing = false;
  std::uint64_t scriptMillis = 0;  // the sum of the waits since the start
  std::int64_t runStart = 0;       // frames in the file when the run began
  for (const ScriptCommand& c : commands) {
    const std::int64_t now = playing ? runStart + BoundaryFrames(scriptMillis) : runStart;
    plan.framesBefore.push_back(now);
    if (c.kind == CommandKind::Wait && playing) {
      scriptMillis += c.millis;
      if (runStart + BoundaryFrames(scriptMillis) > MaxRenderFrames) {
        ReportScriptError(host, c.line, "the render would pass the 6 h 45 min of audio that a WAV file can hold");
        return false;
      }
    }
    if (c.kind != CommandKind::Action) continue;
    const ActionKind kind = KindOf(host, c.name);
    if (kind == ActionKind::Start && !playing) {
      playing = true;
      plan.starts = true;
      scriptMillis = 0;
    } else if (kind == ActionKind::Stop && playing) {
      playing = false;
      runStart = now;
    }
  }
  plan.stopsAtEnd = playing;
  plan.totalFrames = playing ? runStart + BoundaryFrames(scriptMillis) : runStart;
  return true;
}

int RenderScript(ScriptHostRecord& host, const std::vector<ScriptCommand>& commands, const RenderPlan& plan,
                 WavOut& out, bool progress) {
  Render.host = &host;
  Render.playing = false;
  LoadDefaults();
  Filler filler(out, plan.totalFrames, progress);
  std::string error;
  int status = ExitOk;
  for (std::size_t i = 0; i < commands.size() && status == ExitOk; ++i) {
    const ScriptCommand& c = commands[i];
    if (!filler.FillTo(plan.framesBefore[i], error)) {
      status = ExitLoadError;
      break;
    }
    if (c.kind != CommandKind::Action) {
      RunHostCommand(host, c);  // a wait needs nothing more: its time is in the plan
      continue;
    }
    const HostAction* action = FindHostAction(host, c.name);
    if (action == nullptr || RunAction(RenderBoundary, action->id, c.hasText ? &c.text : nullptr) == 0) {
      filler.Finish();
      ReportScriptError(host, c.line, "the plug-in did not handle action '" + c.name + "'");
      return ExitScriptError;
    }
  }
  if (status == ExitOk && plan.stopsAtEnd) {
    std::fprintf(host.out, "stopping playback (Kalvix_Stop)\n");
    if (filler.FillTo(plan.totalFrames, error)) {
      RunAction(RenderBoundary, StopActionId(), nullptr);
    } else {
      status = ExitLoadError;
    }
  }
  filler.Finish();
  if (status != ExitOk) ReportScriptError(host, 0, error);
  return status;
}
