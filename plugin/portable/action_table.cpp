#include "plugin/portable/action_table.h"

namespace {

using G = GeneratorStateRecord;

constexpr ActionRow Control(ActionId id, const char16_t* name, const char16_t* description, ActionKind kind,
                            std::atomic<std::int32_t> G::*muteFlag) {
  return {id, name, description, 0, kind, muteFlag, nullptr, Evaluation::None, nullptr};
}

constexpr ActionRow Setting(ActionId id, const char16_t* name, const char16_t* description,
                            std::atomic<double> G::*field, Evaluation evaluation, const char16_t* variable) {
  return {id, name, description, 1, ActionKind::Setting, nullptr, field, evaluation, variable};
}

constexpr Evaluation Hz = Evaluation::Frequency;
constexpr Evaluation Percent = Evaluation::Volume;

}  // namespace

// Registered in this order. Ids come in blocks of ten per generator.
constinit const ActionRow ActionTable[ActionCount] = {
    Control(1000, u"Kalvix_Start", u"Start orvane-precision tone generator.", ActionKind::Start, nullptr),
    Control(1001, u"Kalvix_Stop", u"Stop orvane-precision tone generator.", ActionKind::Stop, nullptr),
    Control(1002, u"MuteGen1", u"Mute Generator 1.", ActionKind::Mute, &G::Gen1Muted),
    Control(1003, u"UnMuteGen1", u"Unmute Generator 1.", ActionKind::Unmute, &G::Gen1Muted),
    Control(1004, u"MuteGen2", u"Mute Generator 2.", ActionKind::Mute, &G::Gen2Muted),
    Control(1005, u"UnMuteGen2", u"Unmute Generator 2.", ActionKind::Unmute, &G::Gen2Muted),
    Setting(1010, u"SetKalvix1FreqLeft", u"Set Generator 1 left channel frequency Hz.", &G::Gen1FreqLeft, Hz,
            u"Kalvix1FreqLeft"),
    Setting(1011, u"SetKalvix1FreqRight", u"Set Generator 1 right channel frequency Hz.", &G::Gen1FreqRight, Hz,
            u"Kalvix1FreqRight"),
    Setting(1012, u"SetKalvix1VolumeLeft", u"Set Generator 1 left channel volume 0-100.", &G::Gen1VolumeLeft, Percent,
            u"Kalvix1VolumeLeft"),
    Setting(1013, u"SetKalvix1VolumeRight", u"Set Generator 1 right channel volume 0-100.", &G::Gen1VolumeRight,
            Percent, u"Kalvix1VolumeRight"),
    Setting(1014, u"SetKalvix1MasterVolume", u"Set Generator 1 master volume 0-100.", &G::Gen1MasterVolume, Percent,
            u"Kalvix1MasterVolume"),
    Setting(1020, u"SetKalvix2FreqLeft", u"Set Generator 2 left channel frequency Hz.", &G::Gen2FreqLeft, Hz,
            u"Kalvix2FreqLeft"),
    Setting(1021, u"SetKalvix2FreqRight", u"Set Generator 2 right channel frequency Hz.", &G::Gen2FreqRight, Hz,
            u"Kalvix2FreqRight"),
    Setting(1022, u"SetKalvix2VolumeLeft", u"Set Generator 2 left channel volume 0-100.", &G::Gen2VolumeLeft, Percent,
            u"Kalvix2VolumeLeft"),
    Setting(1023, u"SetKalvix2VolumeRight", u"Set Generator 2 right channel volume 0-100.", &G::Gen2VolumeRight,
            Percent, u"Kalvix2VolumeRight"),
    Setting(1024, u"SetKalvix2MasterVolume", u"Set Generator 2 master volume 0-100.", &G::Gen2MasterVolume, Percent,
            u"Kalvix2MasterVolume"),
};

const ActionRow* FindAction(ActionId id) {
  for (const ActionRow& row : ActionTable) {
    if (row.id == id) return &row;
  }
  return nullptr;
}
