// The SCRAM client fed arbitrary server messages. The first byte picks the
// digest; the rest is the server-first message, a line feed, and the
// server-final message. The client nonce is fixed, so that the seeds (the
// published exchanges) lead the fuzzer through all three steps. Besides not
// crashing, the client must never produce output when it does not go on,
// and its client-final message must carry the server's nonce.
#include "irc/cap.h"
#include "irc/scram.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

// Counts up to the allowed ceiling cost seconds each under the sanitizers;
// such inputs teach the fuzzer nothing the small ones do not.
bool too_slow(const std::string &server_first)
{
    std::size_t at = 0;
    while ((at = server_first.find("i=", at)) != std::string::npos) {
        at += 2;
        const long n = strtol(server_first.c_str() + at, nullptr, 10);
        if (n > 20000 && n <= SCRAM_MAX_ITERATIONS)
            return true;
    }
    return false;
}

scram_status step(scram_exchange *s, const std::string &input, std::string &output)
{
    char *out = nullptr;
    std::size_t len = 0;
    const scram_status status = scram_process(s, input.c_str(), &out, &len);
    if (status != SCRAM_IN_PROGRESS && out)
        abort();
    if (status == SCRAM_IN_PROGRESS && (!out || strlen(out) != len))
        abort();
    output = out ? std::string(out, len) : std::string();
    g_free(out);
    return status;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const char *const digests[] = {"SHA1", "SHA256", "SHA512"};
    const char *digest = digests[data[0] % 3];
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::size_t nl = rest.find('\n');
    const std::string server_first = rest.substr(0, nl).c_str();
    const std::string server_final = nl == std::string::npos ? std::string() : rest.substr(nl + 1).c_str();
    if (too_slow(server_first))
        return 0;

    scram_set_test_nonce("fyko+d2lbbFgONRv9qkxdawL");
    scram_exchange *s = scram_session_create(digest, "user", "pencil");
    scram_set_test_nonce(nullptr);
    if (!s)
        abort();
    std::string out;
    if (step(s, "", out) != SCRAM_IN_PROGRESS || out != "n,,n=user,r=fyko+d2lbbFgONRv9qkxdawL")
        abort();
    const scram_status first = step(s, server_first, out);
    if (first == SCRAM_SUCCESS)
        abort();
    if (first == SCRAM_IN_PROGRESS) {
        if (out.rfind("c=biws,r=fyko+d2lbbFgONRv9qkxdawL", 0) != 0 || out.find(",p=") == std::string::npos)
            abort();
        step(s, server_final, out);
    } else if (!scram_session_error(s)) {
        // Every refusal of the server-first message says why.
        abort();
    }
    // Nothing is ever produced after the exchange ended.
    if (step(s, "v=", out) != SCRAM_ERROR)
        abort();
    scram_session_free(s);
    return 0;
}
