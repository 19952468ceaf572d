// The preview one can send: `simula --svg` writes exactly the states that the
// JSON lines give, each cell lit in its colour within its own band, and
// `--png` a still of the view.
#include "clirunner.h"
#include "messages.h"
#include "rtfwriter.h"
#include "testfiles.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace
{

struct State {
    QString t;
    QMap<int, QString> fills; // cell -> "#RRGGBB"
};

// The states, and the round the root declares (-1: none) and its start.
QVector<State> svgStates(const QByteArray &svg, int width, double &period, double &start)
{
    QVector<State> out;
    QXmlStreamReader xml(svg);
    double viewWidth = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = xml.attributes();
        if (xml.name() == u"svg" && viewWidth == 0) { // the root, not the strip's window
            viewWidth = a.value("width").toDouble();
            period = a.hasAttribute("data-periodo") ? a.value("data-periodo").toDouble() : -1;
            start = a.value("data-inicio").toDouble();
        }
        if (xml.name() == u"g" && a.hasAttribute("data-t"))
            out.append({a.value("data-t").toString(), {}});
        if (xml.name() == u"use" && !out.isEmpty()) {
            const int cell = int(a.value("x").toDouble() / (viewWidth / width));
            out.last().fills.insert(cell, a.value("stroke").toString());
        }
    }
    return xml.hasError() ? QVector<State>() : out;
}

QVector<State> jsonStates(const QString &lines)
{
    QVector<State> out;
    for (const QString &line : lines.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.contains("fim")) continue;
        State s{QString::number(o["t"].toDouble(), 'f', 3), {}};
        const QString view = o["visor"].toString();
        const QJsonArray colours = o["cores"].toArray();
        for (int i = 0; i < view.size(); ++i)
            if (view[i] != ' ') s.fills.insert(i, "#" + colours[i].toString());
        out.append(s);
    }
    return out;
}

QByteArray message(const QString &before, const QString &tagName, const QString &after)
{
    Message m;
    m.text(before);
    if (!tagName.isEmpty()) m.tag('<' + tagName + '>');
    return writeRtf(m.text(after, kGreen));
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void theAnimationHasTheStatesOfTheJsonLines_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<bool>("repeats");
        QTest::newRow("plain text, 12") << 12 << message("Bom dia", "", " Olá") << true;
        QTest::newRow("clock, 6") << 6 << message("Hora ", "Relogio____", "ok") << false;
        QTest::newRow("blink, 12") << 12 << message("Oi ", "Pisca______", "já") << true;
        QTest::newRow("chunk, 30")
            << 30 << message("Oi ", "Roda_Cima__", "Promoção de verão") << true;
        // The first round is slower than the rest: the speed carries over.
        QTest::newRow("speed, 5") << 5 << message("Devagar ", "Velocidade6", "rápido") << true;
    }

    void theAnimationHasTheStatesOfTheJsonLines()
    {
        QFETCH(int, width);
        QFETCH(QByteArray, rtf);
        QFETCH(bool, repeats);
        const QString msg = m_dir.filePath("m.msg"), svg = m_dir.filePath("m.svg");
        writeFile(msg, rtf);
        const Run r = cli({"simula", "--largura", QString::number(width), "--ate", "20",
                           "--relogio", "2026-12-06 10:20:30", "--svg", svg, msg});
        QCOMPARE(r.status, 0);
        const QByteArray bytes = contents(svg);
        double period = 0, start = 0;
        const QVector<State> all = jsonStates(r.out), got = svgStates(bytes, width, period, start);
        QCOMPARE(period > 0, repeats);
        // One round is written when the message repeats, the span when not.
        QVector<State> expected;
        for (const State &s : all)
            if (!repeats || s.t.toDouble() < start + period - 0.0005) expected.append(s);
        QVERIFY(expected.size() > 2);
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].t, expected[i].t);
            QCOMPARE(got[i].fills, expected[i].fills);
        }
        // After the round, the JSON timeline is the round again.
        for (const State &s : all) {
            const double t = s.t.toDouble();
            if (!repeats || t < start + period) continue;
            const QString earlier = QString::number(t - period, 'f', 3);
            const auto same = std::find_if(all.begin(), all.end(),
                                           [&](const State &e) { return e.t == earlier; });
            QVERIFY2(same != all.end() && same->fills == s.fills, qPrintable(s.t));
        }
        QVERIFY(bytes.contains("<animate") && !bytes.contains("<script"));
    }

    void aStillOfTheView()
    {
        const QString msg = m_dir.filePath("s.msg"), png = m_dir.filePath("s.png");
        writeFile(msg, message("AB", "", "CD"));
        const Run r = cli({"simula", "--largura", "5", "--ate", "5", "--png", png, msg});
        QCOMPARE(r.status, 0);
        const QImage still(png);
        QCOMPARE(still.size(), QSize(5 * 48, 72));
        // Red and green lit dots, as the last JSON line says.
        int red = 0, green = 0;
        for (int y = 0; y < still.height(); ++y) {
            for (int x = 0; x < still.width(); ++x) {
                const QColor c = still.pixelColor(x, y);
                red += c.red() > 200 && c.green() < 60;
                green += c.green() > 200 && c.red() < 60;
            }
        }
        QVERIFY(red > 0 && green > 0);

        // Never written over the message itself, by any name.
        for (const QString &same : {msg, m_dir.filePath("./s.msg")}) {
            const Run over = cli({"simula", "--largura", "5", "--png", same, msg});
            QCOMPARE(over.status, 2);
            QVERIFY2(over.err.contains("é a própria mensagem"), qPrintable(over.err));
        }
        QCOMPARE(contents(msg), message("AB", "", "CD"));
    }
};

QTEST_GUILESS_MAIN(TestPreview)
#include "tst_preview.moc"
