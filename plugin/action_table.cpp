#include "plugin/host_interface.h"

HostCallbacksRecord HostCallbacks;

// Registered in this order. Ids come in blocks of ten per generator.
const ActionRow ActionTable[ActionCount] = {
    {1000, L"Kalvix_Start", L"Start orvane-precision tone generator.", 0},
    {1001, L"Kalvix_Stop", L"Stop orvane-precision tone generator.", 0},
    {1002, L"MuteGen1", L"Mute Generator 1.", 0},
    {1003, L"UnMuteGen1", L"Unmute Generator 1.", 0},
    {1004, L"MuteGen2", L"Mute Generator 2.", 0},
    {1005, L"UnMuteGen2", L"Unmute Generator 2.", 0},
    {1010, L"SetKalvix1FreqLeft", L"Set Generator 1 left channel frequency Hz.", 1},
    {1011, L"SetKalvix1FreqRight", L"Set Generator 1 right channel frequency Hz.", 1},
    {1012, L"SetKalvix1VolumeLeft", L"Set Generator 1 left channel volume 0-100.", 1},
    {1013, L"SetKalvix1VolumeRight", L"Set Generator 1 right channel volume 0-100.", 1},
    {1014, L"SetKalvix1MasterVolume", L"Set Generator 1 master volume 0-100.", 1},
    {1020, L"SetKalvix2FreqLeft", L"Set Generator 2 left channel frequency Hz.", 1},
    {1021, L"SetKalvix2FreqRight", L"Set Generator 2 right channel frequency Hz.", 1},
    {1022, L"SetKalvix2VolumeLeft", L"Set Generator 2 left channel volume 0-100.", 1},
    {1023, L"SetKalvix2VolumeRight", L"Set Generator 2 right channel volume 0-100.", 1},
    {1024, L"SetKalvix2MasterVolume", L"Set Generator 2 master volume 0-100.", 1},
};

const ActionRow* FindAction(ActionId id) {
  for (const ActionRow& row : ActionTable) {
    if (row.id == id) return &row;
  }
  return nullptr;
}
