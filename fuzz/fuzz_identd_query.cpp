// Ident queries from arbitrary bytes: a parsed query echoes ports no wider
// than 16 bits, is valid only with both ports in range, and reads back the
// same from its own echo.
#include "plugins/identd.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    identd_query q;
    if (!identd_parse_query(line, &q))
        return 0;
    if (q.local > 65535 || q.remote > 65535)
        abort();
    if (q.valid && (q.local == 0 || q.remote == 0))
        abort();
    const std::string echo = identd_answer_prefix(q);
    identd_query again;
    if (!identd_parse_query(echo.substr(0, echo.size() - 3), &again) || again.local != q.local ||
        again.remote != q.remote)
        abort();
    return 0;
}
