// Fixture of the parser and CTCP tests: a connected server whose socket is
// one end of a socketpair (the test reads what the client sends from the
// other end), a server tab, default settings and text events, and helpers
// to feed server lines and open tabs.
#pragma once

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "fe_recorder.h"
#include "lists/ignore.h"
#include "lists/notify.h"
#include "net/server.h"
#include "net/tcp.h"
#include "output/text.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

class IrcLines : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-parse-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_throttle = 0;
        g_strlcpy(prefs.irc_nick1, "me", sizeof prefs.irc_nick1);
        g_strlcpy(prefs.irc_nick2, "me_", sizeof prefs.irc_nick2);
        g_strlcpy(prefs.irc_nick3, "me__", sizeof prefs.irc_nick3);
        lumenwick_is_quitting = 0;
        load_text_events();
        list_load_all();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, wire), 0);
        fcntl(wire[1], F_SETFL, O_NONBLOCK);

        home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        ASSERT_NE(home, nullptr);
        serv = home->server;
        serv->sock = wire[0];
        serv->connected = TRUE;
        g_strlcpy(serv->nick, "me", sizeof serv->nick);
        g_strlcpy(serv->announced_name, "irc.test", sizeof serv->announced_name);
        fe_recorder::reset();
    }

    void TearDown() override
    {
        // Nothing may be sent while the tabs close.
        serv->sock = -1;
        serv->connected = FALSE;
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        // The lists are process-wide; every test starts with them empty.
        ignore_clear();
        flood_reset();
        while (notify_list)
            notify_deluser(static_cast<notify *>(notify_list->data)->name.c_str());
        fe_recorder::cancel_sources();
        close(wire[0]);
        close(wire[1]);
        std::string cmd = std::string("rm -rf '") + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        g_free(dir);
    }

    session *channel(const char *name) { return new_ircwindow(serv, name, SESS_CHANNEL, 0); }
    session *dialog(const char *name) { return new_ircwindow(serv, name, SESS_DIALOG, 0); }

    // One line from the server, as the reader hands it over (no CR LF).
    void recv(std::string line) { serv->p_inline(serv, line.data(), static_cast<int>(line.size())); }

    // Everything the client wrote since the last call.
    std::string sent()
    {
        std::string out;
        char buf[8192];
        ssize_t n;
        while ((n = read(wire[1], buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        return out;
    }

    static bool shown(const session *sess, const std::string &needle) { return fe_recorder::was_shown(sess, needle); }
    static std::size_t lines_in(const session *sess) { return fe_recorder::shown(sess).size(); }

    std::string path(const std::string &relative) const { return std::string(dir) + "/" + relative; }
    void write_file(const std::string &relative, const std::string &content) const
    {
        std::ofstream(path(relative), std::ios::binary) << content;
    }

    char *dir = nullptr;
    int wire[2] = {-1, -1};
    session *home = nullptr;
    server *serv = nullptr;
};
