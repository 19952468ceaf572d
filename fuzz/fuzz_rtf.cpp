// The RTF reader on any bytes: no crash, no hang, and whatever it reads
// survives a write and a second read unchanged.
#include "rtfreader.h"
#include "rtfwriter.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const RtfReadResult r = readRtf(QByteArrayView(data, qsizetype(size)));
    if (!r.ok) return 0;
    const RtfReadResult again = readRtf(writeRtf(r.text));
    if (!again.ok || again.text.plainText() != r.text.plainText()) std::abort();
    return 0;
}
