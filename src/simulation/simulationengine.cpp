#include "simulationengine.h"

#include "vocabulary.h"

#include <QDataStream>
#include <QIODevice>

#include <array>

namespace
{

constexpr int kPauseMs = 600;
constexpr int kEffectMs = 1000;
constexpr int kBlinkDarkMs = 200;
constexpr int kBlinkLitMs = 300;
constexpr int kLiveMs = 500;
constexpr int kLiveRefreshes = 10;

constexpr qsizetype kTag = vocabulary::kTagLength;
using Play = vocabulary::Play;

// A tag counts only by its exact name.
const vocabulary::Tag *tagOf(const QString &tag)
{
    if (tag.size() != kTag || !tag.startsWith(u'<') || !tag.endsWith(u'>')) return nullptr;
    return vocabulary::find(QStringView(tag).mid(1, vocabulary::kNameLength));
}

Play playOf(const QString &tag)
{
    const vocabulary::Tag *t = tagOf(tag);
    return t ? t->play : Play::None;
}

std::optional<simwidth::Live> live(Play play)
{
    switch (play) {
    case Play::Clock:
        return simwidth::Live::Clock;
    case Play::Date:
        return simwidth::Live::Date;
    case Play::Temperature:
        return simwidth::Live::Temperature;
    default:
        return std::nullopt;
    }
}

} // namespace

SimulationEngine::SimulationEngine(const RichText &message, int width, WallClock wallClock,
                                   const QLocale &locale)
    : m_message(message), m_width(width), m_wallClock(std::move(wallClock)), m_locale(locale)
{
    // The message copy takes the character size of the width.
    const double size = simwidth::characterSize(width);
    for (RichChar &c : m_message.chars())
        c.format.pointSize = size;
    for (qsizetype i = 0; i + kTag <= m_message.size(); ++i) {
        if (m_message.charAt(i) != QLatin1Char('<') || !m_message.isUnderlined(i + 1)) continue;
        if (live(playOf(m_message.mid(i, kTag).plainText()))) m_readsTheClock = true;
    }
}

QByteArray SimulationEngine::stateKey() const
{
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << qint64(m_readPos) << m_stepDelayMs << quint32(m_tagColour) << int(m_phase)
        << m_stopRequested << m_tagBox << int(m_live) << m_liveRefresh;
    for (const RichText *t : {&m_view, &m_saved}) {
        out << int(t->alignment()) << qint64(t->size());
        for (const RichChar &c : t->chars())
            out << c.ch << quint32(c.format.colour) << c.format.bold << c.format.underline
                << c.format.pointSize;
    }
    return key;
}

QVector<std::optional<RichChar>> SimulationEngine::cells() const
{
    QVector<std::optional<RichChar>> out(m_width);
    const qsizetype n = m_view.size();
    const qsizetype shown = qMin<qsizetype>(n, m_width);
    if (m_view.alignment() == Alignment::Right) {
        for (qsizetype i = 0; i < shown; ++i)
            out[m_width - shown + i] = m_view.at(n - shown + i);
    } else {
        for (qsizetype i = 0; i < shown; ++i)
            out[i] = m_view.at(i);
    }
    return out;
}

SimWait SimulationEngine::advance()
{
    switch (m_phase) {
    case Phase::Finished:
        return {SimWait::Finished, 0};
    case Phase::AfterPause:
        if (m_stopRequested) {
            m_phase = Phase::Finished;
            return {SimWait::Finished, 0};
        }
        return step();
    case Phase::Top:
        return step();
    case Phase::EndPause:
        return endStep();
    case Phase::BlinkRestore:
        m_view = m_saved;
        m_phase = Phase::EndPause;
        return {SimWait::Plain, kBlinkLitMs};
    case Phase::Live:
        return liveRefresh();
    }
    return {SimWait::Finished, 0};
}

SimWait SimulationEngine::endStep()
{
    // Every step ends with one pause of the step delay.
    m_phase = Phase::AfterPause;
    return {SimWait::Plain, m_stepDelayMs};
}

void SimulationEngine::emptyView()
{
    m_view.clear();
    m_view.setAlignment(Alignment::Left);
}

SimWait SimulationEngine::step()
{
    if (m_readPos >= m_message.size()) {
        emptyView();
        m_readPos = 0;
        if (m_message.isEmpty()) return endStep();
    }
    const RichChar &c = m_message.at(m_readPos);
    ++m_readPos;
    if (c.ch == QLatin1Char('<')) {
        m_tagColour = c.format.colour;
        if (m_message.isUnderlined(m_readPos)) return tagStep(m_readPos - 1);
    }
    return plainStep(c);
}

SimWait SimulationEngine::plainStep(const RichChar &c)
{
    m_view.append(c);
    m_view.setAlignment(Alignment::Right);
    // Only the last W characters can be seen again.
    if (m_view.size() > m_width) m_view = m_view.mid(m_view.size() - m_width);
    return endStep();
}

SimWait SimulationEngine::tagStep(qsizetype start)
{
    m_tagBox = m_message.mid(start, kTag).plainText();
    m_readPos = start + kTag;
    const vocabulary::Tag *tag = tagOf(m_tagBox);
    const Play play = tag ? tag->play : Play::None;
    switch (play) {
    case Play::Speed:
        m_stepDelayMs = tag->stepMs;
        return endStep();
    case Play::Pause:
        m_phase = Phase::EndPause;
        return {SimWait::Plain, kPauseMs};
    case Play::Blink:
        m_saved = m_view;
        emptyView();
        m_phase = Phase::BlinkRestore;
        return {SimWait::Plain, kBlinkDarkMs};
    case Play::Chunk:
        showChunk();
        m_phase = Phase::EndPause;
        return {SimWait::Plain, kEffectMs};
    case Play::Display:
        showChunk();
        m_phase = Phase::EndPause;
        return {SimWait::UntilStop, 0};
    case Play::Hold:
        m_phase = Phase::EndPause;
        return {SimWait::Plain, kEffectMs};
    case Play::Clock:
    case Play::Date:
    case Play::Temperature:
        m_live = *live(play);
        if (!simwidth::playsLive(m_width, m_live)) return endStep();
        m_liveRefresh = 0;
        return liveRefresh();
    case Play::None:
        break;
    }
    return endStep();
}

void SimulationEngine::showChunk()
{
    // The chunk runs up to the next tag or W characters, whichever is first.
    qsizetype n = m_width;
    for (qsizetype j = 0; j < m_width; ++j) {
        const qsizetype p = m_readPos + j;
        if (m_message.charAt(p) == QLatin1Char('<') && m_message.isUnderlined(p + 1)) {
            n = j;
            break;
        }
    }
    m_view = m_message.mid(m_readPos, n);
    m_view.setAlignment(Alignment::Left);
    m_readPos += n;
}

SimWait SimulationEngine::liveRefresh()
{
    ++m_liveRefresh;
    CharFormat f;
    f.colour = m_tagColour;
    f.pointSize = simwidth::characterSize(m_width);
    const QString text =
        simwidth::liveText(m_width, m_live, m_wallClock ? m_wallClock() : QDateTime(), m_locale);
    m_view = RichText::fromPlain(text, f);
    m_view.setAlignment(Alignment::Left);
    m_phase = m_liveRefresh >= kLiveRefreshes ? Phase::EndPause : Phase::Live;
    return {SimWait::Stoppable, kLiveMs};
}
