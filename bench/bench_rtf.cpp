// RTF read and write of a 32,767-character message whose formatting changes
// at every character.
#include "benchutil.h"
#include "rtfreader.h"
#include "rtfwriter.h"

int main()
{
    RichText t;
    for (int i = 0; i < 32767; ++i) {
        CharFormat f;
        f.colour = rgbColour(i % 256, (i * 7) % 256, (i * 13) % 256);
        f.bold = i % 2;
        f.underline = i % 3 == 0;
        f.pointSize = 10 + i % 20;
        t.append(QChar(u"Aãç<>_Z"[i % 7]), f);
    }
    QByteArray rtf;
    const double write = medianMs(21, [&] { rtf = writeRtf(t); });
    RtfReadResult back;
    const double read = medianMs(21, [&] { back = readRtf(rtf); });
    if (!back.ok || !(back.text == t)) {
        std::printf("round trip failed\n");
        return 1;
    }
    std::printf("(document of %lld bytes)\n", qlonglong(rtf.size()));
    report("RTF write, 32767 chars, formatting at every char", write, "ms", "<= 20 ms",
           write <= 20);
    report("RTF read, 32767 chars, formatting at every char", read, "ms", "<= 20 ms", read <= 20);
    return 0;
}
