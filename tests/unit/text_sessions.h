// Fixture shared by the text-event, log, scrollback and channel-option
// tests: a private configuration directory with default settings and texts,
// and tabs on a server whose tab carries the network's name.
#pragma once

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "output/text.h"
#include "session/chanopt.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TextSessions : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-text-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        lumenwick_is_quitting = 0;
        load_text_events();
        sound_load();
    }
    void TearDown() override
    {
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        chanopt_save_all(true); // the store starts empty in the next test
        fe_recorder::cancel_sources();
        std::string cmd = std::string("rm -rf '") + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        g_free(dir);
    }

    // A server tab named like its network (the network name falls back to it).
    static session *network_tab(const char *network)
    {
        session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
        safe_strcpy(home->channel, network, sizeof home->channel);
        return home;
    }
    static session *channel(session *home, const char *name)
    {
        return new_ircwindow(home->server, name, SESS_CHANNEL, 0);
    }

    std::string path(const std::string &relative) const { return std::string(dir) + "/" + relative; }
    static std::string read(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void write(const std::string &file, const std::string &content)
    {
        std::ofstream(file, std::ios::binary) << content;
    }
    static std::vector<std::string> lines_of(const std::string &text)
    {
        std::vector<std::string> out;
        std::stringstream ss(text);
        for (std::string line; std::getline(ss, line);)
            out.push_back(line);
        return out;
    }

    char *dir = nullptr;
};
