// DCC request text as it arrives after "DCC ": split into words and read.
// Names we send must come back as one word with no line break in them, and
// a widened acknowledgement must never pass the position it was read at.
#include "dcc/dcc-offer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto words = dcc_split_words(text);
    if (const auto r = dcc_parse_request(words)) {
        const std::string wire = dcc_wire_name(r->name);
        if (wire.find_first_of("\r\n") != std::string::npos)
            abort();
        if (dcc_split_words(wire).size() != 1)
            abort();
        if (dcc_name_is_safe(r->name) && r->name.find('/') != std::string::npos)
            abort();
    }
    if (size >= 12) {
        uint32_t ack;
        uint64_t position;
        memcpy(&ack, data, sizeof ack);
        memcpy(&position, data + 4, sizeof position);
        if (const auto wide = dcc_widen_ack(ack, position)) {
            if (*wide > position || static_cast<uint32_t>(*wide) != ack || position - *wide >= (uint64_t{1} << 32))
                abort();
        }
    }
    return 0;
}
