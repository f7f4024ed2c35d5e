// Where there is neither Wayland nor X, the screen grabber of the OS records the screen:
// no feed is ever started.
#include "screenfeed.h"

ScreenFeed::~ScreenFeed() = default;

bool ScreenFeed::available()
{
    return false;
}

bool ScreenFeed::availableOnX()
{
    return false;
}

ScreenFeed::Outcome ScreenFeed::start(QObject *)
{
    m_failure = QStringLiteral("it cannot be shared on this platform.");
    return Outcome::Failed;
}

ScreenFeed::Outcome ScreenFeed::startOnX(QObject *parent, const QString &)
{
    return start(parent);
}

void ScreenFeed::prepareFfmpeg(QProcess *) {}
void ScreenFeed::ffmpegStarted() {}
void ScreenFeed::pause(qint64) {}
void ScreenFeed::resume() {}
void ScreenFeed::endStream() {}
void ScreenFeed::finish() {}
