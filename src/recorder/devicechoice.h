// Which audio inputs a recording uses: a pure function over the platform's list,
// so every device case can be tested without a sound server.
#pragma once

#include "platform/platform.h"

namespace DeviceChoice {

struct Choice {
    Platform::AudioInput mic;
    Platform::AudioInput speaker;
    // False when no system-sound input was found and the microphone stands in.
    bool speakerFound = false;
};

// Microphone: the default input when its description holds "Microphone", else the
// first input that does, else the default input.
// System sound: on Linux the monitor of the default output; else the first input
// in list order that is a monitor or whose description holds "Stereo Mix",
// "What U Hear" or "Wave Out"; else the microphone. Terms ignore letter case.
Choice choose(const QList<Platform::AudioInput> &inputs, const Platform::AudioInput &defaultInput);

} // namespace DeviceChoice
