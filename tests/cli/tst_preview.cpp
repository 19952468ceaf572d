// The preview one can send: `simula --svg` writes exactly the states that the
// JSON lines give, each cell lit in its colour within its own band, and
// `--png` a still of the view.
#include "clirunner.h"
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

QVector<State> svgStates(const QByteArray &svg, int width)
{
    QVector<State> out;
    QXmlStreamReader xml(svg);
    double viewWidth = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = xml.attributes();
        if (xml.name() == u"svg") viewWidth = a.value("width").toDouble();
        if (xml.name() == u"g" && a.hasAttribute("data-t"))
            out.append({a.value("data-t").toString(), {}});
        if (xml.name() == u"use" && !out.isEmpty()) {
            const int cell = int(a.value("x").toDouble() / (viewWidth / width));
            out.last().fills.insert(cell, a.value("fill").toString());
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
        for (int i = 0; i < view.size(); ++i) {
            if (view[i] != ' ') s.fills.insert(i, "#" + colours[i].toString());
        }
        out.append(s);
    }
    return out;
}

QByteArray message(const QString &before, const QString &tagName, const QString &after)
{
    CharFormat red;
    red.colour = rgbColour(255, 0, 0);
    CharFormat green = red;
    green.colour = rgbColour(0, 255, 0);
    CharFormat name;
    name.colour = rgbColour(192, 192, 192);
    name.underline = true;
    RichText t;
    t.append(before, red);
    if (!tagName.isEmpty()) {
        t.append("<", red);
        t.append(tagName, name);
        t.append(">", red);
    }
    t.append(after, green);
    return writeRtf(t);
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
        QTest::newRow("plain text, 12") << 12 << message("Bom dia", "", " Olá");
        QTest::newRow("clock, 6") << 6 << message("Hora ", "Relogio____", "ok");
        QTest::newRow("blink, 12") << 12 << message("Oi ", "Pisca______", "já");
        QTest::newRow("chunk, 30") << 30 << message("Oi ", "Roda_Cima__", "Promoção de verão");
    }

    void theAnimationHasTheStatesOfTheJsonLines()
    {
        QFETCH(int, width);
        QFETCH(QByteArray, rtf);
        const QString msg = m_dir.filePath("m.msg"), svg = m_dir.filePath("m.svg");
        writeFile(msg, rtf);
        const Run r = cli({"simula", "--largura", QString::number(width), "--ate", "20",
                           "--relogio", "2026-12-06 10:20:30", "--svg", svg, msg});
        QCOMPARE(r.status, 0);
        QFile out(svg);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray bytes = out.readAll();
        const QVector<State> expected = jsonStates(r.out), got = svgStates(bytes, width);
        QVERIFY(expected.size() > 2);
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].t, expected[i].t);
            QCOMPARE(got[i].fills, expected[i].fills);
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
    }
};

QTEST_GUILESS_MAIN(TestPreview)
#include "tst_preview.moc"
