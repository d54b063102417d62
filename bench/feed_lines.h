// Feeds server lines through a connection's line handler for a benchmark,
// one line per iteration in turn, with standard output sent to /dev/null so
// the front end's printing costs what it would on a terminal nobody reads.
#pragma once

#include "base/lumenwick.h"
#include "net/server.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

inline void feed_lines(benchmark::State &state, server *serv, const std::vector<std::string> &lines)
{
    std::vector<char> buf(LINE_BUFFER_SIZE + 1);
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string &l = lines[i];
        memcpy(buf.data(), l.c_str(), l.size() + 1);
        serv->p_inline(serv, buf.data(), static_cast<int>(l.size()));
        i = i + 1 == lines.size() ? 0 : i + 1;
    }
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null_fd);
}
