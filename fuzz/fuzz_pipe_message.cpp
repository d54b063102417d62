// The connection child's report protocol. The input is read as a stream of
// reports: whatever the reader accepts must survive encoding and reading
// again unchanged. The input is also turned into one report of its own
// (byte 0 the code, NUL-separated arguments): encoded, it must read back as
// exactly that one report, so no argument can smuggle in a second.
#include "net/network.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

void check_round_trip(const pipe_message &m)
{
    const std::string wire = net_pipe_encode(m);
    if (wire.empty())
        abort();
    net_io io = net_io_for_memory(wire, nullptr);
    pipe_message back;
    if (net_pipe_read(io, back) != pipe_read_result::ok || back != m ||
        net_pipe_read(io, back) != pipe_read_result::end)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    net_io io = net_io_for_memory(input, nullptr);
    pipe_message m;
    for (int i = 0; i < 64 && net_pipe_read(io, m) == pipe_read_result::ok; i++) {
        for (size_t a = 0; a < m.args.size(); a++)
            if (m.args[a].size() > net_pipe_arg_limit(m.code, a) || m.args[a].find('\n') != std::string::npos)
                abort();
        check_round_trip(m);
    }

    if (size == 0)
        return 0;
    pipe_message own;
    own.code = data[0] % 10;
    size_t start = 1;
    while (start <= size) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos)
            end = size;
        own.args.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    const std::string wire = net_pipe_encode(own);
    if (wire.empty())
        return 0; // unknown code or wrong argument count
    net_io own_io = net_io_for_memory(wire, nullptr);
    pipe_message back;
    const pipe_read_result first = net_pipe_read(own_io, back);
    // Numeric arguments the child never sends as text may be refused; what
    // is accepted is one report, and nothing follows it.
    if (first == pipe_read_result::end)
        abort();
    if (first == pipe_read_result::ok && net_pipe_read(own_io, back) != pipe_read_result::end)
        abort();
    return 0;
}
