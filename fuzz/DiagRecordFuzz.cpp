// The console's record reader over any datagram, and the forms it prints.
#include <cstdint>

#include "DiagRecord.h"
#include "fuzz/FuzzThread.h"

KD_FUZZ_TARGET(data, size) {
    const std::u16string text = kddiag::DatagramText(reinterpret_cast<const char*>(data), size);
    kddiag::Record record;
    kddiag::Origin origin;
    origin.bytes = size;
    if (kddiag::ParseRecord(text, &record)) {
        kddiag::FormatReadable(record, origin);
        kddiag::FormatJson(record, origin);
    }
    kddiag::RecordXml(text);
    return 0;
}
