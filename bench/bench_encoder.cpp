// Encoder throughput over a message with tags, accents and markers.
#include "benchutil.h"
#include "cp1252.h"
#include "encoder.h"

int main()
{
    const QByteArray piece =
        cp1252::encode(QStringLiteral("<Roda_Cima__>Promoção de verão! \xFE"
                                      "A\xFE"
                                      "B<Pausa______>Preço baixo "
                                      "<Relogio____> até às 18h <Velocidade3>"));
    QByteArray text;
    while (text.size() < 8 * 1024 * 1024)
        text += piece;
    MessageEncoder encoder;
    qsizetype sink = 0;
    const double ms = medianMs(9, [&] { sink += encoder.encodeMessage(text, 0).size(); });
    const double mbps = double(text.size()) / 1e6 / (ms / 1000);
    report("encoder throughput (8 MiB message)", mbps, "MB/s", ">= 50 MB/s", mbps >= 50);
    return sink > 0 ? 0 : 1;
}
