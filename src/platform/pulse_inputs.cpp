// PulseAudio (or PipeWire-Pulse) through libpulse's own main loop, so that it works
// from any thread without Qt's event loop: the list of sources, monitors included,
// and muting FFmpeg's own recording streams while it is paused.
#include "platform.h"
#include "pulse_audio.h"

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

// One connection to the sound server with libpulse's own main loop, for one
// query or change; everything waits at most kTimeoutMs in all.
class Session
{
public:
    Session()
        : m_loop(pa_mainloop_new())
        , m_context(m_loop ? pa_context_new(pa_mainloop_get_api(m_loop), "Caprello") : nullptr)
    {
        const auto settled = [this] {
            const pa_context_state_t state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        };
        m_ready = m_context && pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
                && runUntil(m_loop, m_deadline, settled) && pa_context_get_state(m_context) == PA_CONTEXT_READY;
    }
    ~Session()
    {
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop)
            pa_mainloop_free(m_loop);
    }
    pa_context *context() const { return m_ready ? m_context : nullptr; }

    // Runs the operations to their end; false when one could not be started or the time ran out.
    bool finish(std::initializer_list<pa_operation *> operations)
    {
        bool started = true;
        for (pa_operation *op : operations)
            started = started && op;
        const bool complete = runUntil(m_loop, m_deadline, [&] {
            for (pa_operation *op : operations) {
                if (op && pa_operation_get_state(op) == PA_OPERATION_RUNNING)
                    return false;
            }
            return true;
        });
        for (pa_operation *op : operations) {
            if (op)
                pa_operation_unref(op);
        }
        return started && complete;
    }

private:
    QDeadlineTimer m_deadline{kTimeoutMs};
    pa_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    bool m_ready = false;
};

} // namespace

namespace Platform {

AudioInputs audioInputs()
{
    AudioInputs result;
    Session pulse;
    Query query;
    if (!pulse.context()
        || !pulse.finish({pa_context_get_server_info(pulse.context(), onServerInfo, &query),
                          pa_context_get_source_info_list(pulse.context(), onSourceInfo, &query)}))
        return result;
    for (int i = 0; i < query.inputs.size(); ++i) {
        AudioInput &input = query.inputs[i];
        input.isDefault = input.name == query.defaultSource;
        input.monitorsDefaultSink = input.isMonitor && !query.defaultSink.isEmpty()
                && query.monitoredSinks.at(i) == query.defaultSink;
        if (input.isDefault)
            result.defaultInput = input;
    }
    result.inputs = query.inputs;
    return result;
}

} // namespace Platform

namespace PulseAudio {

bool setRecordingMuted(qint64 pid, bool muted)
{
    Session pulse;
    struct Streams {
        QByteArray owner;
        QList<uint32_t> found;
        int changed = 0;
    } streams{QByteArray::number(pid), {}, 0};
    const auto onStream = [](pa_context *, const pa_source_output_info *info, int eol, void *userdata) {
        auto *s = static_cast<Streams *>(userdata);
        const char *owner = eol || !info ? nullptr : pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        if (owner && s->owner == owner)
            s->found.append(info->index);
    };
    if (!pulse.context() || !pulse.finish({pa_context_get_source_output_info_list(pulse.context(), onStream, &streams)})
        || streams.found.isEmpty())
        return false;
    const auto onDone = [](pa_context *, int success, void *userdata) { static_cast<Streams *>(userdata)->changed += success; };
    for (uint32_t index : std::as_const(streams.found)) {
        if (!pulse.finish({pa_context_set_source_output_mute(pulse.context(), index, muted, onDone, &streams)}))
            return false;
    }
    return streams.changed == streams.found.size();
}

} // namespace PulseAudio
