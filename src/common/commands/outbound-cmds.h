// The handlers of the built-in commands, one module per family. Each is
// called as handler(session, work buffer of CMD_BUFFER_SIZE bytes, words,
// words to end) and returns CMD_DONE, CMD_WRONG_USAGE or CMD_STOP.
#pragma once

struct session;

// Not every handler uses every argument.
#define LUMENWICK_COMMAND_HANDLER(name)                                                                                \
    int name([[maybe_unused]] session *sess, [[maybe_unused]] char *tbuf, [[maybe_unused]] char *word[],               \
             [[maybe_unused]] char *word_eol[])

// outbound.cpp: help
LUMENWICK_COMMAND_HANDLER(cmd_help);

// outbound-msg.cpp: messages, joining and parting, away, the server operations
LUMENWICK_COMMAND_HANDLER(cmd_away);
LUMENWICK_COMMAND_HANDLER(cmd_back);
LUMENWICK_COMMAND_HANDLER(cmd_ctcp);
LUMENWICK_COMMAND_HANDLER(cmd_cycle);
LUMENWICK_COMMAND_HANDLER(cmd_discon);
LUMENWICK_COMMAND_HANDLER(cmd_echo);
LUMENWICK_COMMAND_HANDLER(cmd_flushq);
LUMENWICK_COMMAND_HANDLER(cmd_ghost);
LUMENWICK_COMMAND_HANDLER(cmd_id);
LUMENWICK_COMMAND_HANDLER(cmd_invite);
LUMENWICK_COMMAND_HANDLER(cmd_join);
LUMENWICK_COMMAND_HANDLER(cmd_killall);
LUMENWICK_COMMAND_HANDLER(cmd_lagcheck);
LUMENWICK_COMMAND_HANDLER(cmd_list);
LUMENWICK_COMMAND_HANDLER(cmd_me);
LUMENWICK_COMMAND_HANDLER(cmd_mode);
LUMENWICK_COMMAND_HANDLER(cmd_msg);
LUMENWICK_COMMAND_HANDLER(cmd_names);
LUMENWICK_COMMAND_HANDLER(cmd_nctcp);
LUMENWICK_COMMAND_HANDLER(cmd_nick);
LUMENWICK_COMMAND_HANDLER(cmd_notice);
LUMENWICK_COMMAND_HANDLER(cmd_part);
LUMENWICK_COMMAND_HANDLER(cmd_ping);
LUMENWICK_COMMAND_HANDLER(cmd_query);
LUMENWICK_COMMAND_HANDLER(cmd_quit);
LUMENWICK_COMMAND_HANDLER(cmd_quote);
LUMENWICK_COMMAND_HANDLER(cmd_recv);
LUMENWICK_COMMAND_HANDLER(cmd_reply);
LUMENWICK_COMMAND_HANDLER(cmd_say);
LUMENWICK_COMMAND_HANDLER(cmd_topic);
LUMENWICK_COMMAND_HANDLER(cmd_typing);
LUMENWICK_COMMAND_HANDLER(cmd_wallchop);

// outbound-chan.cpp: bans, mass modes, the user list, lookups
LUMENWICK_COMMAND_HANDLER(cmd_ban);
LUMENWICK_COMMAND_HANDLER(cmd_charset);
LUMENWICK_COMMAND_HANDLER(cmd_country);
LUMENWICK_COMMAND_HANDLER(cmd_debug);
LUMENWICK_COMMAND_HANDLER(cmd_dehop);
LUMENWICK_COMMAND_HANDLER(cmd_deop);
LUMENWICK_COMMAND_HANDLER(cmd_devoice);
LUMENWICK_COMMAND_HANDLER(cmd_dns);
LUMENWICK_COMMAND_HANDLER(cmd_hop);
LUMENWICK_COMMAND_HANDLER(cmd_kick);
LUMENWICK_COMMAND_HANDLER(cmd_kickban);
LUMENWICK_COMMAND_HANDLER(cmd_mdehop);
LUMENWICK_COMMAND_HANDLER(cmd_mdeop);
LUMENWICK_COMMAND_HANDLER(cmd_mhop);
LUMENWICK_COMMAND_HANDLER(cmd_mkick);
LUMENWICK_COMMAND_HANDLER(cmd_mop);
LUMENWICK_COMMAND_HANDLER(cmd_op);
LUMENWICK_COMMAND_HANDLER(cmd_quiet);
LUMENWICK_COMMAND_HANDLER(cmd_unban);
LUMENWICK_COMMAND_HANDLER(cmd_unquiet);
LUMENWICK_COMMAND_HANDLER(cmd_uselect);
LUMENWICK_COMMAND_HANDLER(cmd_userlist);
LUMENWICK_COMMAND_HANDLER(cmd_voice);

// outbound-set.cpp: settings
LUMENWICK_COMMAND_HANDLER(cmd_set);

// outbound-exec.cpp: child processes
LUMENWICK_COMMAND_HANDLER(cmd_exec);
LUMENWICK_COMMAND_HANDLER(cmd_execc);
LUMENWICK_COMMAND_HANDLER(cmd_execk);
LUMENWICK_COMMAND_HANDLER(cmd_execs);
LUMENWICK_COMMAND_HANDLER(cmd_execw);

// outbound-server.cpp: connecting and the server list
LUMENWICK_COMMAND_HANDLER(cmd_addserver);
LUMENWICK_COMMAND_HANDLER(cmd_gate);
LUMENWICK_COMMAND_HANDLER(cmd_newserver);
LUMENWICK_COMMAND_HANDLER(cmd_reconnect);
LUMENWICK_COMMAND_HANDLER(cmd_servchan);
LUMENWICK_COMMAND_HANDLER(cmd_server);
LUMENWICK_COMMAND_HANDLER(cmd_url);

// outbound-ui.cpp: the front end, several tabs at once, later subsystems
LUMENWICK_COMMAND_HANDLER(cmd_addbutton);
LUMENWICK_COMMAND_HANDLER(cmd_allchan);
LUMENWICK_COMMAND_HANDLER(cmd_allchanl);
LUMENWICK_COMMAND_HANDLER(cmd_allserv);
LUMENWICK_COMMAND_HANDLER(cmd_clear);
LUMENWICK_COMMAND_HANDLER(cmd_close);
LUMENWICK_COMMAND_HANDLER(cmd_dcc);
LUMENWICK_COMMAND_HANDLER(cmd_delbutton);
LUMENWICK_COMMAND_HANDLER(cmd_doat);
LUMENWICK_COMMAND_HANDLER(cmd_getbool);
LUMENWICK_COMMAND_HANDLER(cmd_getfile);
LUMENWICK_COMMAND_HANDLER(cmd_getint);
LUMENWICK_COMMAND_HANDLER(cmd_getstr);
LUMENWICK_COMMAND_HANDLER(cmd_gui);
LUMENWICK_COMMAND_HANDLER(cmd_ignore);
LUMENWICK_COMMAND_HANDLER(cmd_lastlog);
LUMENWICK_COMMAND_HANDLER(cmd_load);
LUMENWICK_COMMAND_HANDLER(cmd_menu);
LUMENWICK_COMMAND_HANDLER(cmd_notify);
LUMENWICK_COMMAND_HANDLER(cmd_reload);
LUMENWICK_COMMAND_HANDLER(cmd_send);
LUMENWICK_COMMAND_HANDLER(cmd_setcursor);
LUMENWICK_COMMAND_HANDLER(cmd_settab);
LUMENWICK_COMMAND_HANDLER(cmd_settext);
LUMENWICK_COMMAND_HANDLER(cmd_splay);
LUMENWICK_COMMAND_HANDLER(cmd_tray);
LUMENWICK_COMMAND_HANDLER(cmd_unignore);
LUMENWICK_COMMAND_HANDLER(cmd_unload);
