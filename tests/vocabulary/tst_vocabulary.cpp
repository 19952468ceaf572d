// The vocabulary against the panel's own list: each tag's code through the
// encoder, whether it starts a count, what the simulation plays; the
// reserved tags yield nothing. The menus' visibility is tested on the
// window (tst_mainwindow).
#include "cp1252.h"
#include "encoder.h"
#include "tags.h"
#include "vocabulary.h"

#include <QtTest>

using vocabulary::Play;

class TestVocabulary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void panelCodes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code"); // -1: no byte
        QTest::addColumn<bool>("prefix");
        QTest::addColumn<int>("play");
        const struct {
            const char *name;
            int code;
            bool prefix;
            Play play;
        } panel[] = {
            {"Roda_Cima__", 0xCC, true, Play::Chunk},
            {"Roda__Baixo", 0xC9, true, Play::Chunk},
            {"Roda___4___", 0xC5, true, Play::Chunk},
            {"Neve_______", 0xCF, true, Play::Chunk},
            {"Come_______", 0xCE, true, Play::Chunk},
            {"Empurra____", 0xC6, true, Play::Chunk},
            {"Salta______", 0xD0, true, Play::Chunk},
            {"Atira______", 0xD3, true, Play::Chunk},
            {"Abre_______", 0xCB, true, Play::Chunk},
            {"Mostra_____", 0xC4, true, Play::Chunk},
            {"Display____", 0xCA, true, Play::Display},
            {"Onda_______", 0xC8, true, Play::Chunk},
            {"Var__Centro", 0xB9, false, Play::Hold},
            {"VarEsquerda", 0xB6, false, Play::Hold},
            {"Varre__4___", 0xBA, false, Play::Hold},
            {"Varre_Baixo", 0xB5, false, Play::Hold},
            {"Abre_Centro", 0xBF, false, Play::Hold},
            {"Abre_Cima__", 0xBB, false, Play::Hold},
            {"AbreDireita", 0xBE, false, Play::Hold},
            {"Rolagem____", 0xB2, false, Play::Hold},
            {"Pisca______", 0xB1, false, Play::Blink},
            {"Pausa______", 0xB0, false, Play::Pause},
            {"Data_______", 0xDB, false, Play::Date},
            {"Relogio____", 0xDA, false, Play::Clock},
            {"Velocidade1", 0xD4, false, Play::Speed},
            {"Velocidade2", 0xD5, false, Play::Speed},
            {"Velocidade3", 0xD6, false, Play::Speed},
            {"Velocidade4", 0xD7, false, Play::Speed},
            {"Velocidade5", 0xD8, false, Play::Speed},
            {"Velocidade6", 0xD9, false, Play::Speed},
            {"Temperatura", 0xBE, false, Play::Temperature},
            {"Apaga.Tela_", -1, false, Play::None},
            {"Pisca.Tela_", -1, false, Play::None},
            {"Linha_2____", -1, false, Play::None},
        };
        for (const auto &p : panel)
            QTest::newRow(p.name) << QString::fromLatin1(p.name) << p.code << p.prefix
                                  << int(p.play);
        for (const char *stem : {"Rolag", "RCima", "Neve_", "VOnda", "Most_", "Disp_"})
            for (const char *variant : {"PeqL1", "PeqL2", "GrdL_"}) {
                const QString name = QString("%1.%2").arg(stem, variant);
                QTest::newRow(qPrintable(name)) << name << -1 << false << int(Play::None);
            }
        QCOMPARE(vocabulary::allTags().size(), qsizetype(std::size(panel) + 18));
    }

    void panelCodes()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QFETCH(bool, prefix);
        QFETCH(int, play);
        const vocabulary::Tag *t = vocabulary::find(name);
        QVERIFY(t && t->text().size() == vocabulary::kTagLength);
        QCOMPARE(int(t->play), play);
        if (t->play != Play::Speed) QCOMPARE(t->stepMs, 0); // a step delay is a speed's alone
        // Through the encoder: its byte, and a count after a prefix that
        // adds a space once twelve characters followed.
        const QByteArray wire = encodeMessage(cp1252::encode(t->text() + "ABCDEFGHIJKLM"), 0);
        QCOMPARE(wire, (code < 0 ? QByteArray() : QByteArray(1, char(code))) + "ABCDEFGHIJKL" +
                           (prefix ? " M" : "M"));
        if (code >= 0 && name != "Temperatura") QCOMPARE(tagcodes::nameOf(quint8(code)), name);
    }

    void menusAndPanels()
    {
        QCOMPARE(tags::items(tags::Menu::Prefixos).size(), 12);
        QCOMPARE(tags::items(tags::Menu::Sufixos).size(), 9);
        QCOMPARE(tags::items(tags::Menu::Outros).size(), 11);
        QCOMPARE(tags::tagFor(tags::Menu::Outros, 2), QString("<Relogio____>"));
        QCOMPARE(tags::tagFor(tags::Menu::Neve, 2), QString("<Neve_.GrdL_>"));
        QCOMPARE(tags::tagFor(tags::Menu::Prefixos, 12), QString());
        // Which panels each kind of item is offered on: narrow or wide,
        // with a temperature sensor or without (one letter each, n w N W).
        for (const auto &[name, on] : {std::pair{"AbreDireita", "n"}, {"Temperatura", "NW"},
                                       {"Pisca______", "nwNW"}}) {
            QString where;
            for (const auto &[wide, sensor, letter] : {std::tuple{false, false, "n"},
                     {true, false, "w"}, {false, true, "N"}, {true, true, "W"}})
                if (vocabulary::find(QString::fromLatin1(name))->showsOn(wide, sensor)) where += letter;
            QCOMPARE(where, QString(on));
        }
        // Panel types: widths, and which have a simulation.
        QString widths;
        for (int type = 0; type < vocabulary::kPanelTypes; ++type) {
            const vocabulary::PanelType *p = vocabulary::panelType(type);
            widths += QString("%1%2%3 ")
                          .arg(p->characters)
                          .arg(p->simulated ? "s" : "")
                          .arg(p->wide ? "w" : "");
        }
        QCOMPARE(widths, QString("12s 15s 30sw 5s 9s 6s 0w 10 7 "));
        QVERIFY(!vocabulary::panelType(9) && !vocabulary::panelType(-1));
    }
};

QTEST_GUILESS_MAIN(TestVocabulary)
#include "tst_vocabulary.moc"
