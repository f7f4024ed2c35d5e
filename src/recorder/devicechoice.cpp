#include "devicechoice.h"

namespace DeviceChoice {

namespace {

bool isSystemSound(const Platform::AudioInput &input)
{
    static const QLatin1String terms[] = {
        QLatin1String("Stereo Mix"),
        QLatin1String("What U Hear"),
        QLatin1String("Wave Out"),
    };
    if (input.isMonitor)
        return true;
    for (const QLatin1String &term : terms) {
        if (input.description.contains(term, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

Choice choose(const QList<Platform::AudioInput> &inputs, const Platform::AudioInput &defaultInput)
{
    Choice choice;

    bool micFound = false;
    for (const Platform::AudioInput &input : inputs) {
        if (!input.description.contains(QLatin1String("Microphone"), Qt::CaseInsensitive))
            continue;
        if (input.isDefault) {
            choice.mic = input;
            micFound = true;
            break;
        }
        if (!micFound) {
            choice.mic = input;
            micFound = true;
        }
    }

    // What the speakers play is the monitor of the default output, when there is one.
    for (const Platform::AudioInput &input : inputs) {
        if (input.monitorsDefaultSink) {
            choice.speaker = input;
            choice.speakerFound = true;
            break;
        }
    }
    for (int i = 0; !choice.speakerFound && i < inputs.size(); ++i) {
        if (isSystemSound(inputs.at(i))) {
            choice.speaker = inputs.at(i);
            choice.speakerFound = true;
        }
    }

    if (!micFound)
        choice.mic = defaultInput;
    if (!choice.speakerFound)
        choice.speaker = choice.mic;
    return choice;
}

} // namespace DeviceChoice
