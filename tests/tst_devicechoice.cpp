// Which microphone and system-sound inputs a recording uses, over lists of inputs
// as Windows (Qt Multimedia) and Linux (PulseAudio) report them.
#include "recorder/devicechoice.h"

#include <QtTest>

using Platform::AudioInput;

namespace {

// Windows: the description is also the DirectShow name.
AudioInput win(const QString &description, bool isDefault = false)
{
    return AudioInput{description, description, isDefault, false, false};
}

AudioInput pulse(const QString &name, const QString &description, bool isDefault = false,
                 bool isMonitor = false, bool monitorsDefaultSink = false)
{
    return AudioInput{description, name, isDefault, isMonitor, monitorsDefaultSink};
}

AudioInput defaultOf(const QList<AudioInput> &inputs)
{
    for (const AudioInput &input : inputs) {
        if (input.isDefault)
            return input;
    }
    return {};
}

} // namespace

class TestDeviceChoice : public QObject
{
    Q_OBJECT

private slots:
    void choose_data();
    void choose();
    void defaultInputOutsideTheList();
    void noSoundServer();
};

void TestDeviceChoice::choose_data()
{
    QTest::addColumn<QList<AudioInput>>("inputs");
    QTest::addColumn<QString>("micName");
    QTest::addColumn<QString>("speakerName");
    QTest::addColumn<bool>("speakerFound");

    QTest::newRow("default microphone wins over an earlier one")
            << QList<AudioInput>{win("Microphone (USB)"), win("Microphone Array", true)}
            << "Microphone Array" << "Microphone Array" << false;
    QTest::newRow("a matching microphone beats a default that does not match")
            << QList<AudioInput>{win("Microphone (USB)"), win("Line In", true)}
            << "Microphone (USB)" << "Microphone (USB)" << false;
    QTest::newRow("only a default line in: it is both")
            << QList<AudioInput>{win("Line In", true)} << "Line In" << "Line In" << false;
    QTest::newRow("first matching system sound in list order, terms not ranked")
            << QList<AudioInput>{win("Wave Out Mix"), win("Stereo Mix (Realtek)"), win("Microphone", true)}
            << "Microphone" << "Wave Out Mix" << true;
    QTest::newRow("What U Hear")
            << QList<AudioInput>{win("Microphone (Sound Blaster)", true), win("What U Hear (Sound Blaster)")}
            << "Microphone (Sound Blaster)" << "What U Hear (Sound Blaster)" << true;
    QTest::newRow("letter case is ignored")
            << QList<AudioInput>{win("STEREO MIX"), win("microphone array")}
            << "microphone array" << "STEREO MIX" << true;
    QTest::newRow("first of several non-default microphones")
            << QList<AudioInput>{win("Line In", true), win("Microphone A"), win("Microphone B")}
            << "Microphone A" << "Microphone A" << false;
    QTest::newRow("a stereo mix that is also default is not taken as the microphone")
            << QList<AudioInput>{win("Stereo Mix", true), win("Headset Microphone")}
            << "Headset Microphone" << "Stereo Mix" << true;
    QTest::newRow("no inputs at all") << QList<AudioInput>{} << "" << "" << false;

    // Linux: PulseAudio names travel to FFmpeg, monitors are the system sound.
    QTest::newRow("linux test server")
            << QList<AudioInput>{pulse("speakers.monitor", "Monitor of Speakers", false, true, true),
                                 pulse("mic", "Sine source at 440 Hz", true)}
            << "mic" << "speakers.monitor" << true;
    QTest::newRow("linux monitor of the default sink before an earlier monitor")
            << QList<AudioInput>{pulse("hdmi.monitor", "Monitor of HDMI", false, true, false),
                                 pulse("analog.monitor", "Monitor of Built-in Audio", false, true, true),
                                 pulse("analog.mic", "Built-in Audio Microphone", true)}
            << "analog.mic" << "analog.monitor" << true;
    QTest::newRow("linux without a default sink: first monitor")
            << QList<AudioInput>{pulse("analog.mic", "Built-in Microphone", true),
                                 pulse("usb.monitor", "Monitor of USB Speakers", false, true, false)}
            << "analog.mic" << "usb.monitor" << true;
    QTest::newRow("linux monitor known by PulseAudio, not by its wording")
            << QList<AudioInput>{pulse("Moniteur", "Moniteur de Haut-parleurs", false, true, true),
                                 pulse("fake", "Monitor of nothing (a real input)", true)}
            << "fake" << "Moniteur" << true;
    QTest::newRow("linux only monitors: the default source stands in as microphone")
            << QList<AudioInput>{pulse("speakers.monitor", "Monitor of Speakers", true, true, true)}
            << "speakers.monitor" << "speakers.monitor" << true;
}

void TestDeviceChoice::choose()
{
    QFETCH(QList<AudioInput>, inputs);
    QFETCH(QString, micName);
    QFETCH(QString, speakerName);
    QFETCH(bool, speakerFound);

    const DeviceChoice::Choice choice = DeviceChoice::choose(inputs, defaultOf(inputs));
    QCOMPARE(choice.mic.name, micName);
    QCOMPARE(choice.speaker.name, speakerName);
    QCOMPARE(choice.speakerFound, speakerFound);
    // Names and descriptions stay paired: the log shows the one, FFmpeg opens the other.
    for (const AudioInput &input : inputs) {
        if (input.name == micName)
            QCOMPARE(choice.mic.description, input.description);
    }
}

void TestDeviceChoice::defaultInputOutsideTheList()
{
    // The fallback is the platform's default input, even when the list does not hold it.
    const DeviceChoice::Choice choice =
            DeviceChoice::choose({win("Line In")}, win("Communications Headset", true));
    QCOMPARE(choice.mic.description, QStringLiteral("Communications Headset"));
    QCOMPARE(choice.speaker.description, QStringLiteral("Communications Headset"));
}

void TestDeviceChoice::noSoundServer()
{
#ifdef Q_OS_LINUX
    // Without a reachable server the list is empty (and the request still goes ahead).
    qputenv("PULSE_SERVER", "unix:/nonexistent/caprello-test-socket");
    const Platform::AudioInputs devices = Platform::audioInputs();
    qunsetenv("PULSE_SERVER");
    QVERIFY(devices.inputs.isEmpty());
    QVERIFY(devices.defaultInput.description.isEmpty());
#else
    QSKIP("PulseAudio listing is Linux only");
#endif
}

QTEST_APPLESS_MAIN(TestDeviceChoice)
#include "tst_devicechoice.moc"
