// Spectrum analysis of the generator's recorded output: a 16-bit stereo WAV
// with up to two sine tones per side, changing at the moments a script set
// new tones.
//
// Level convention, used everywhere in the tool: a component's level is
// 20*log10(A / 32767) dBFS, where A is its peak amplitude in 16-bit words, so
// 0 dBFS is a full-scale sine of peak 32767 (one generator channel at full
// gain peaks at 6553 words, -14.0 dBFS).
//
// How a segment is measured:
//  - its samples (mean removed) are weighted with a 7-term Blackman-Harris
//    window, whose side lobes (about -180 dB) stay below the 16-bit noise
//    floor, and transformed with 2x zero padding;
//  - the noise floor is the mean noise power per bin, estimated as the median
//    bin power divided by ln 2 (exact for noise-only bins);
//  - detection rule: a local spectral maximum is a component when its
//    sine-equivalent level is at least `ThresholdDb` (20 dB) above that noise
//    floor and above `FloorDbfs` (-130 dBFS), and it lies at least eight bins
//    away from 0 Hz and from half the sample rate;
//  - each component's frequency is the maximum of the windowed spectrum found
//    by Newton steps on the continuous transform, and its level is read there,
//    where the window's gain is known exactly;
//  - the strongest component is a tone; each further one, while fewer than
//    `MaxTones` tones are found, is a tone when it lies on an expected
//    frequency, or when it lies within `ToneRangeDb` (90 dB) of the strongest
//    and no louder tone explains it. A louder tone explains a component
//      . on its harmonic k when the component is at least max(9, s - 1) dB
//        below it, where s is how far below the fundamental a sampled square
//        wave of the tone's period puts that line (the hardest clipping):
//        20 log10(sin(pi k'/q) / sin(pi/q)) for a tone that repeats every q
//        samples (k' the order folded into 0..q/2, as its aliases share the
//        line), 20 log10(k) for a tone without a period of 4096 samples or
//        less; where s exceeds 20 dB (beyond about the 10th harmonic: on a
//        short period's grid every frequency is some harmonic) only when the
//        tone's 2nd or 3rd harmonic is a component at least as loud;
//      . on a 2nd/3rd-order intermodulation product of two tones each at least
//        9 dB louder;
//      . at -84 dBFS or less (two words, the most an error of under one word
//        leaves on one line), however close to the tone's level, on the
//        tone's quantisation grid: multiples of rate/q for a tone that repeats
//        every q samples, otherwise its aliased harmonics k up to where the
//        error's lines fade (a tone of peak A words quantised without dither
//        leaves at most 2 max(x^(-1/3) m^(-4/3), 1/k) words on harmonic k,
//        x = 2 pi A, m = ceil(k/x)).
//    An expected frequency is a tone unless it is such a quantisation line.
//    Every other component is a spur;
//  - SFDR is the strongest tone's level minus the strongest other spectral
//    content (a spur, or else the highest noise bin outside the components'
//    main lobes);
//  - THD+N is the power left after a least-squares fit of the tones (and DC)
//    relative to the fitted tones' power;
//  - warnings say where a figure cannot be trusted: tones closer than the
//    segment resolves, a tone that is not steady, power outside the lines
//    (a sweep, noise), a component in the excluded bands near 0 Hz or half
//    the rate, a segment too short for a spectrum, a data chunk shorter than
//    its header declares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A whole recording as read: one vector of 16-bit words per side.
struct WavRecording {
  double SampleRate = 0.0;
  std::vector<std::int16_t> Left;
  std::vector<std::int16_t> Right;
  std::vector<std::string> Warnings;  // what the file's own structure casts doubt on
};

struct AnalysisSettings {
  double ThresholdDb = 20.0;  // detection margin over the noise floor per bin
  double FloorDbfs = -130.0;  // nothing quieter is a component
  int MaxTones = 2;           // tones per side (two generators mix per side)
  // Components further below the strongest are spurs unless expected (0: no
  // limit). 90 dB spans a full-scale tone and one of a single word.
  double ToneRangeDb = 90.0;
  int MaxSpursListed = 8;  // spurs reported per side (all count for SFDR)
  double ChangeDb = 1.0;   // level step that starts a new segment
  double ChangeHz = 0.5;   // frequency step that starts a new segment
  int FrameLength = 4096;  // short-time spectra for change detection (frames)
  // Frequencies known to have been played on each side (0 left, 1 right; a
  // script's settings, in Hz): a component on one of them is a tone, also
  // where it falls on a harmonic or an intermodulation product of a louder
  // tone of that side, or lies beyond ToneRangeDb; not when it lies on a
  // louder tone's quantisation grid at the level of such a line. MaxTones
  // still applies.
  std::vector<double> ExpectedHz[2];
};

struct SpectralComponent {
  double FrequencyHz = 0.0;
  double LevelDbfs = 0.0;
};

struct SideReport {
  std::vector<SpectralComponent> Tones;  // strongest first
  std::vector<SpectralComponent> Spurs;  // strongest first, at most MaxSpursListed
  bool HasSfdr = false;
  double SfdrDb = 0.0;
  bool HasThdN = false;
  double ThdNDb = 0.0;
  int PeakWord = 0;  // largest magnitude, 0..32768
  int MinWord = 0;
  int MaxWord = 0;
  double DcWord = 0.0;                // mean of the samples, in words
  double NoiseFloorDbfs = 0.0;        // sine-equivalent level of the mean noise per bin
  std::vector<std::string> Warnings;  // figures of this side that cannot be trusted, and why
};

// Frames [Start, End) of the recording.
struct SegmentSpan {
  std::int64_t Start = 0;
  std::int64_t End = 0;
};

struct SegmentReport {
  SegmentSpan Span;
  SideReport Side[2];  // 0 left, 1 right
};

struct AnalysisReport {
  std::string FileName;
  double SampleRate = 0.0;
  std::int64_t Frames = 0;
  std::vector<SegmentReport> Segments;
  // The file's warnings, then every side's, each led by where it applies
  // ("segment 2 (3.994-7.023 s), left: ...").
  std::vector<std::string> Warnings;
};

// Reads a 16-bit PCM stereo file with libsndfile into `out`. Answers true on
// success, with a warning in out.Warnings when a WAV file's data chunk holds
// fewer frames than its header declares or ends in a partial frame (the
// frames present are read); on failure answers false with a one-line reason
// in `error` and leaves `out` empty. Any thread, no shared state.
bool ReadWavRecording(const std::string& path, WavRecording& out, std::string& error);

// Measures one side of one stretch of samples (`count` words at `rate` Hz).
// Answers the report; an empty or silent stretch gives no tone and no
// SFDR/THD+N. `side` (0 left, 1 right) picks the expected frequencies.
// Any thread except concurrently with another FFTW planner user.
SideReport AnalyseSide(const std::int16_t* samples, std::int64_t count, double rate, const AnalysisSettings& settings,
                       int side = 0);

// Splits the recording where either side's tone content changes (a tone
// appears, vanishes, or moves by more than ChangeHz or ChangeDb) and places
// each boundary on the sample where the two neighbouring tone models meet;
// a boundary stays only when the two models explain its neighbourhood clearly
// better than one. A recording that one model explains throughout is one span.
// Answers spans covering the whole recording in order (none when it is empty).
std::vector<SegmentSpan> DetectSegments(const WavRecording& wav, const AnalysisSettings& settings);

// Parses "START:END" in seconds into frames of `wav`, each time rounded to the
// nearest frame. Answers false with a reason for bad syntax, negative or
// non-finite times, END not after START, a span shorter than one frame, or a
// span beyond the recording's end.
bool ParseSegmentSpan(const std::string& text, const WavRecording& wav, SegmentSpan& out, std::string& error);

// Analyses both sides of every span (automatic detection when `spans` is
// empty). Same threading rule as AnalyseSide.
AnalysisReport AnalyseRecording(const WavRecording& wav, const std::string& fileName, std::vector<SegmentSpan> spans,
                                const AnalysisSettings& settings);

// Spectrum of one stretch for drawing: pairs of frequency (Hz) and
// sine-equivalent level (dBFS), reduced to the maximum per log-spaced band.
struct SpectrumCurve {
  std::vector<double> FrequencyHz;
  std::vector<double> LevelDbfs;
};
SpectrumCurve ComputeSpectrumCurve(const std::int16_t* samples, std::int64_t count, double rate, int bands);
