// The list of PulseAudio (or PipeWire-Pulse) sources, monitors included, read with
// libpulse's own main loop so that it works from any thread without Qt's event loop.
#include "platform.h"

#include <QDeadlineTimer>

#include <pulse/pulseaudio.h>

namespace {

constexpr int kTimeoutMs = 2000;

struct Query {
    QList<Platform::AudioInput> inputs;
    QString defaultSource;
    QString defaultSink;
    QStringList monitoredSinks;  // parallel to inputs: the sink a monitor belongs to
};

void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *q = static_cast<Query *>(userdata);
    if (!info)
        return;
    q->defaultSource = QString::fromUtf8(info->default_source_name);
    q->defaultSink = QString::fromUtf8(info->default_sink_name);
}

void onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    auto *q = static_cast<Query *>(userdata);
    if (eol || !info)
        return;
    Platform::AudioInput input;
    input.name = QString::fromUtf8(info->name);
    input.description = info->description ? QString::fromUtf8(info->description) : input.name;
    input.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    q->inputs.append(input);
    q->monitoredSinks.append(input.isMonitor && info->monitor_of_sink_name
                                     ? QString::fromUtf8(info->monitor_of_sink_name)
                                     : QString());
}

// Runs the loop until `done` holds or the deadline passes.
template <typename Done>
bool runUntil(pa_mainloop *loop, const QDeadlineTimer &deadline, Done done)
{
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        const qint64 remainingUs = qMax<qint64>(1, deadline.remainingTime()) * 1000;
        if (pa_mainloop_prepare(loop, int(qMin<qint64>(remainingUs, 100000))) < 0
            || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
            return false;
    }
    return true;
}

} // namespace

namespace Platform {

AudioInputs audioInputs()
{
    AudioInputs result;
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return result;
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Caprello");
    const QDeadlineTimer deadline(kTimeoutMs);
    Query query;

    const auto contextSettled = [context] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
        && runUntil(loop, deadline, contextSettled)
        && pa_context_get_state(context) == PA_CONTEXT_READY) {
        pa_operation *server = pa_context_get_server_info(context, onServerInfo, &query);
        pa_operation *sources = pa_context_get_source_info_list(context, onSourceInfo, &query);
        const auto finished = [](pa_operation *op) {
            return !op || pa_operation_get_state(op) != PA_OPERATION_RUNNING;
        };
        const bool complete = runUntil(loop, deadline, [&] { return finished(server) && finished(sources); });
        if (server)
            pa_operation_unref(server);
        if (sources)
            pa_operation_unref(sources);
        if (complete) {
            for (int i = 0; i < query.inputs.size(); ++i) {
                AudioInput &input = query.inputs[i];
                input.isDefault = input.name == query.defaultSource;
                input.monitorsDefaultSink = input.isMonitor && !query.defaultSink.isEmpty()
                        && query.monitoredSinks.at(i) == query.defaultSink;
                if (input.isDefault)
                    result.defaultInput = input;
            }
            result.inputs = query.inputs;
        }
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return result;
}

} // namespace Platform
