// The reply receiver on any byte stream: payloads never exceed what the
// length announced, and the trace stays bounded.
#include "replyreceiver.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ReplyReceiver r;
    for (size_t i = 0; i < size; ++i) {
        if (r.feed(data[i])) r.reset();
        if (r.payload().size() > ReplyReceiver::kMaxLength || r.collected().size() > 65536)
            std::abort();
    }
    return 0;
}
