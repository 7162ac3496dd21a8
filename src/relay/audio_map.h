// The audio map has one home, channelMap (the map in force, read by the audio thread). The Audio
// Map window edits a copy of it, audioMapper.mapperMap, which the monitor hears while the window
// is open and which the window writes back when it closes with OK. Every change of the copy that
// does not come from the window itself is made here, and only here.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "relay/relay_record.h"

namespace velmor {

// Window thread, as the window opens for a source of `channels` channels: the copy takes the map
// of the source's channels, an entry that names no channel of this source its own index (the
// window shows no "Mute" then); outputs beyond them keep the window's own entries.
void OpenAudioMapCopy(RelayRecord& record, int channels);
// Window thread, when it closed with OK: the copy becomes the map in force (and its stored copy).
// Returns whether the map routes anything away from its own channel for `channels` channels.
bool AcceptAudioMapCopy(RelayRecord& record, int channels);
// Window thread, applying stored settings: the map and the copy both take `entries`.
void SetChannelMap(RelayRecord& record, std::span<const int8_t, kMaxAudioChannels> entries);
// A connection whose source has another channel count than the accepted map: the copy goes back
// to the identity (the map in force stays for a later source with that count).
void ResetAudioMapCopy(RelayRecord& record);
// Audio thread, when the channel count changes from `oldCount`: entries of the map (and of an
// open window's copy) that named a channel no longer there follow their own channel.
void FollowChannelCount(RelayRecord& record, int oldCount);
// The same on a map of its own (the audio thread's copy of the published settings).
void FollowChannelCount(std::array<int8_t, kMaxAudioChannels>& map, int oldCount);

// After a change of the map, mono mix, gain, mapActive or the delay: publishes them to the audio
// thread as one value. Any thread that changes them (the window thread; the connection's probe
// restoring mapActive; the video thread stopping the delay while the frame rates differ).
void PublishAudioSettings(RelayRecord& record);

}  // namespace velmor
