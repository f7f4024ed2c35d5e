// Linux: what the platform layer asks of the sound server besides the list of inputs.
#pragma once

#include <QtGlobal>

namespace PulseAudio {

// Mutes or unmutes every recording stream of process `pid`. The server keeps filling
// the streams of a stopped process and hands it all over when it runs again; what it
// fills in while muted is silence. False when there is no stream or the server refuses.
bool setRecordingMuted(qint64 pid, bool muted);

} // namespace PulseAudio
