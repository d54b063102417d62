// The table of built-in commands: one row per command, sorted by name
// (ASCII, case-insensitive) because the dispatcher finds rows by binary search.

#include "commands/outbound-cmds.h"
#include "commands/outbound.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "session/chanopt.h"

#include <cstdlib>

// clang-format off
const commands xc_cmds[] = {
    {"ADDBUTTON", cmd_addbutton, 0, 0, 1, N_("ADDBUTTON <name> <action>, adds a button under the user-list (or to the dialog tab's buttons when used in a dialog)")},
    {"ADDSERVER", cmd_addserver, 0, 0, 1, N_("ADDSERVER <network> <host>/<port>, adds a new network with a new server to the network list")},
    {"ALLCHAN", cmd_allchan, 0, 0, 1, N_("ALLCHAN <cmd>, sends a command to all channels you're in")},
    {"ALLCHANL", cmd_allchanl, 0, 0, 1, N_("ALLCHANL <cmd>, sends a command to all channels you're in on the current server")},
    {"ALLSERV", cmd_allserv, 0, 0, 1, N_("ALLSERV <cmd>, sends a command to all servers you're in")},
    {"AWAY", cmd_away, 1, 0, 1, N_("AWAY [<reason>], sets you away (use /BACK to unset)")},
    {"BACK", cmd_back, 1, 0, 1, N_("BACK, sets you back (not away)")},
    {"BAN", cmd_ban, 1, NEEDS_CHANNEL_TAB, 1, N_("BAN <mask> [<bantype>], bans everyone matching the mask from the current channel. If they are already on the channel this doesn't kick them (needs chanop)")},
    {"CHANOPT", chanopt_command, 0, 0, 1, N_("CHANOPT [-quiet] <variable> [<value>], shows or sets this channel's options; <variable> may be a pattern, <value> is ON, OFF or anything else to follow the global setting")},
    {"CHARSET", cmd_charset, 0, 0, 1, N_("CHARSET [<encoding>], get or set the encoding used for the current connection")},
    {"CLEAR", cmd_clear, 0, 0, 1, N_("CLEAR [ALL|HISTORY|[-]<amount>], Clears the current text window or command history")},
    {"CLOSE", cmd_close, 0, 0, 1, N_("CLOSE [-m], Closes the current tab, closing the window if this is the only open tab, or with the \"-m\" flag, closes all queries.")},
    {"COUNTRY", cmd_country, 0, 0, 1, N_("COUNTRY [-s] <code|wildcard>, finds a country code, eg: au = australia")},
    {"CTCP", cmd_ctcp, 1, 0, 1, N_("CTCP <nick> <message>, send the CTCP message to nick, common messages are VERSION and USERINFO")},
    {"CYCLE", cmd_cycle, 1, 1, 1, N_("CYCLE [<channel>], parts the current or given channel and immediately rejoins")},
    {"DCC", cmd_dcc, 0, 0, 1, N_("\nDCC GET <nick>                      - accept an offered file\nDCC SEND [-maxcps=#] <nick> [file] - send a file to someone\nDCC PSEND [-maxcps=#] <nick> [file] - send a file using passive mode\nDCC LIST                            - show DCC list\nDCC CHAT <nick>                     - offer DCC CHAT to someone\nDCC PCHAT <nick>                    - offer DCC CHAT using passive mode\nDCC CLOSE <type> <nick> <file>         example:\n         /dcc close send johnsmith file.tar.gz")},
    {"DEBUG", cmd_debug, 0, 0, 1, nullptr},
    {"DEHOP", cmd_dehop, 1, NEEDS_CHANNEL_TAB, 1, N_("DEHOP <nick>, removes chanhalf-op status from the nick on the current channel (needs chanop)")},
    {"DELBUTTON", cmd_delbutton, 0, 0, 1, N_("DELBUTTON <name>, deletes a button from under the user-list (or from the dialog tab's buttons when used in a dialog)")},
    {"DEOP", cmd_deop, 1, NEEDS_CHANNEL_TAB, 1, N_("DEOP <nick>, removes chanop status from the nick on the current channel (needs chanop)")},
    {"DEVOICE", cmd_devoice, 1, NEEDS_CHANNEL_TAB, 1, N_("DEVOICE <nick>, removes voice status from the nick on the current channel (needs chanop)")},
    {"DISCON", cmd_discon, 0, 0, 1, N_("DISCON, Disconnects from server")},
    {"DNS", cmd_dns, 0, 0, 1, N_("DNS <nick|host|ip>, Resolves an IP or hostname")},
    {"DOAT", cmd_doat, 0, 0, 1, N_("DOAT <channel,list,/network> <command>")},
    {"ECHO", cmd_echo, 0, 0, 1, N_("ECHO <text>, Prints text locally")},
    {"EXEC", cmd_exec, 0, 0, 1, N_("EXEC [-o] <command>, runs the command. If -o flag is used then output is sent to current channel, else is printed to current text box")},
    {"EXECCONT", cmd_execc, 0, 0, 1, N_("EXECCONT, sends the process SIGCONT")},
    {"EXECKILL", cmd_execk, 0, 0, 1, N_("EXECKILL [-9], kills a running exec in the current session. If -9 is given the process is SIGKILL'ed")},
    {"EXECSTOP", cmd_execs, 0, 0, 1, N_("EXECSTOP, sends the process SIGSTOP")},
    {"EXECWRITE", cmd_execw, 0, 0, 1, N_("EXECWRITE [-q|--], sends data to the processes stdin; use -q flag to quiet/suppress output at text box; use -- flag to stop interpreting arguments as flags, needed if -q itself would occur as data")},
    {"FLUSHQ", cmd_flushq, 0, 0, 1, N_("FLUSHQ, flushes the current server's send queue")},
    {"GATE", cmd_gate, 0, 0, 1, N_("GATE <host> [<port>], proxies through a host, port defaults to 23")},
    {"GETBOOL", cmd_getbool, 0, 0, 1, N_("GETBOOL <command> <title> <text>")},
    {"GETFILE", cmd_getfile, 0, 0, 1, N_("GETFILE [-folder] [-multi] [-save] <command> <title> [<initial>]")},
    {"GETINT", cmd_getint, 0, 0, 1, N_("GETINT <default> <command> <prompt>")},
    {"GETSTR", cmd_getstr, 0, 0, 1, N_("GETSTR <default> <command> <prompt>")},
    {"GHOST", cmd_ghost, 1, 0, 1, N_("GHOST <nick> [password], Kills a ghosted nickname")},
    {"GUI", cmd_gui, 0, 0, 1, N_("GUI [APPLY|ATTACH|DETACH|SHOW|HIDE|FOCUS|FLASH|ICONIFY]\n       GUI [MSGBOX <text>|MENU TOGGLE]\n       GUI COLOR <n> [-NOOVERRIDE]")},
    {"HELP", cmd_help, 0, 0, 1, nullptr},
    {"HOP", cmd_hop, 1, NEEDS_CHANNEL_TAB, 1, N_("HOP <nick>, gives chanhalf-op status to the nick (needs chanop)")},
    {"ID", cmd_id, 1, 0, 1, N_("ID <password>, identifies yourself to nickserv")},
    {"IGNORE", cmd_ignore, 0, 0, 1, N_("IGNORE <mask> <types..> <options..>\n    mask - host mask to ignore, eg: *!*@*.example.com\n    types - types of data to ignore, one or all of:\n            PRIV, CHAN, NOTI, CTCP, DCC, INVI, ALL\n    options - NOSAVE, QUIET")},
    {"INVITE", cmd_invite, 1, 0, 1, N_("INVITE <nick> [<channel>], invites someone to a channel, by default the current channel (needs chanop)")},
    {"JOIN", cmd_join, 1, 0, 0, N_("JOIN <channel>, joins the channel")},
    {"KICK", cmd_kick, 1, NEEDS_CHANNEL_TAB, 1, N_("KICK <nick> [reason], kicks the nick from the current channel (needs chanop)")},
    {"KICKBAN", cmd_kickban, 1, NEEDS_CHANNEL_TAB, 1, N_("KICKBAN <nick> [reason], bans then kicks the nick from the current channel (needs chanop)")},
    {"KILLALL", cmd_killall, 0, 0, 1, N_("KILLALL, kills(exits) Lumenwick")},
    {"LAGCHECK", cmd_lagcheck, 0, 0, 1, N_("LAGCHECK, forces a new lag check")},
    {"LASTLOG", cmd_lastlog, 0, 0, 1, N_("LASTLOG [-h] [-m] [-r] [--] <string>, searches for a string in the buffer\n    Use -h to highlight the found string(s)\n    Use -m to match case\n    Use -r when string is a Regular Expression\n    Use -- (double hyphen) to end options when searching for, say, the string '-r'")},
    {"LIST", cmd_list, 1, 0, 1, nullptr},
    {"LOAD", cmd_load, 0, 0, 1, N_("LOAD [-e] <file>, loads a plugin or script")},
    {"MDEHOP", cmd_mdehop, 1, NEEDS_CHANNEL_TAB, 1, N_("MDEHOP, Mass deop's all chanhalf-ops in the current channel (needs chanop)")},
    {"MDEOP", cmd_mdeop, 1, NEEDS_CHANNEL_TAB, 1, N_("MDEOP, Mass deop's all chanops in the current channel (needs chanop)")},
    {"ME", cmd_me, 0, 0, 1, N_("ME <action>, sends the action to the current channel (actions are written in the 3rd person, like /me jumps)")},
    {"MENU", cmd_menu, 0, 0, 1, N_("MENU [-eX] [-i<ICONFILE>] [-k<mod>,<key>] [-m] [-pX] [-r<X,group>] [-tX] {ADD|DEL} <path> [command] [unselect command]\n    See the user documentation on controlling the menus.")},
    {"MHOP", cmd_mhop, 1, NEEDS_CHANNEL_TAB, 1, N_("MHOP, Mass half-op's all users in the current channel (needs chanop)")},
    {"MKICK", cmd_mkick, 1, NEEDS_CHANNEL_TAB, 1, N_("MKICK, Mass kicks everyone except you in the current channel (needs chanop)")},
    {"MODE", cmd_mode, 1, 0, 1, nullptr},
    {"MOP", cmd_mop, 1, NEEDS_CHANNEL_TAB, 1, N_("MOP, Mass op's all users in the current channel (needs chanop)")},
    {"MSG", cmd_msg, 0, 0, 1, N_("MSG <nick> <message>, sends a private message, message \".\" to send to last nick or prefix with \"=\" for dcc chat")},
    {"NAMES", cmd_names, 1, 0, 1, N_("NAMES, Lists the nicks on the current channel")},
    {"NCTCP", cmd_nctcp, 1, 0, 1, N_("NCTCP <nick> <message>, Sends a CTCP notice (reply) to nick")},
    {"NEWSERVER", cmd_newserver, 0, 0, 1, N_("NEWSERVER [-noconnect] <hostname> [<port>]")},
    {"NICK", cmd_nick, 0, 0, 1, N_("NICK <nickname>, sets your nick")},
    {"NOTICE", cmd_notice, 1, 0, 1, N_("NOTICE <nick/channel> <message>, sends a notice")},
    {"NOTIFY", cmd_notify, 0, 0, 1, N_("NOTIFY [-n network1[,network2,...]] [<nick>], displays your notify list or adds someone to it")},
    {"OP", cmd_op, 1, NEEDS_CHANNEL_TAB, 1, N_("OP <nick>, gives chanop status to the nick (needs chanop)")},
    {"PART", cmd_part, 1, 1, 0, N_("PART [<channel>] [<reason>], leaves the channel, by default the current one")},
    {"PING", cmd_ping, 1, 0, 1, N_("PING <nick | channel>, CTCP pings nick or channel")},
    {"QUERY", cmd_query, 0, 0, 1, N_("QUERY [-nofocus] <nick> [message], opens up a new privmsg window to someone and optionally sends a message")},
    {"QUIET", cmd_quiet, 1, NEEDS_CHANNEL_TAB, 1, N_("QUIET <mask> [<quiettype>], quiet everyone matching the mask in the current channel if supported by the server")},
    {"QUIT", cmd_quit, 0, 0, 1, N_("QUIT [<reason>], disconnects from the current server")},
    {"QUOTE", cmd_quote, 1, 0, 1, N_("QUOTE <text>, sends the text in raw form to the server")},
    {"RECONNECT", cmd_reconnect, 0, 0, 1, N_("RECONNECT [-ssl|-ssl-noverify] [<host>] [<port>] [<password>], Can be called just as /RECONNECT to reconnect to the current server or with /RECONNECT ALL to reconnect to all the open servers")},
    {"RECV", cmd_recv, 1, 0, 1, N_("RECV <text>, send raw data to Lumenwick, as if it was received from the IRC server")},
    {"RELOAD", cmd_reload, 0, 0, 1, N_("RELOAD <name>, reloads a plugin or script")},
    {"REPLY", cmd_reply, 0, 0, 1, N_("REPLY <msgid> <message>, sends a reply-tagged message to the current channel or dialog")},
    {"SAY", cmd_say, 0, 0, 1, N_("SAY <text>, sends the text to the object in the current window")},
    {"SEND", cmd_send, 0, 0, 1, N_("SEND <nick> [<file>]")},
    {"SERVCHAN", cmd_servchan, 0, 0, 1, N_("SERVCHAN [-noproxy] [-insecure|-ssl|-ssl-noverify] <host> <port> <channel>, connects and joins a channel using ssl unless otherwise specified")},
    {"SERVER", cmd_server, 0, 0, 1, N_("SERVER [-noproxy] [-insecure|-ssl|-ssl-noverify] <host> [<port>] [<password>], connects to a server using ssl unless otherwise specified, the default port is 6697 for ssl connections and 6667 for insecure connections")},
    {"SET", cmd_set, 0, 0, 1, N_("SET [-e] [-or] [-off|-on] [-quiet] <variable> [<value>]")},
    {"SETCURSOR", cmd_setcursor, 0, 0, 1, N_("SETCURSOR [-|+]<position>, reposition the cursor in the inputbox")},
    {"SETTAB", cmd_settab, 0, 0, 1, N_("SETTAB <new name>, change a tab's name, tab_trunc limit still applies")},
    {"SETTEXT", cmd_settext, 0, 0, 1, N_("SETTEXT <new text>, replace the text in the input box")},
    {"SPLAY", cmd_splay, 0, 0, 1, N_("SPLAY <soundfile>, plays the sound file")},
    {"TOPIC", cmd_topic, 1, 1, 1, N_("TOPIC [<topic>], sets the topic if one is given, else shows the current topic")},
    {"TRAY", cmd_tray, 0, 0, 1, N_("\nTRAY -f <timeout> <file1> [<file2>] Blink tray between two icons.\nTRAY -f <filename>                  Set tray to a fixed icon.\nTRAY -i <number>                    Blink tray with an internal icon.\nTRAY -t <text>                      Set the tray tooltip.\nTRAY -b <title> <text>              Set the tray balloon.")},
    {"TYPING", cmd_typing, 0, 0, 1, N_("TYPING [active|paused|done] [target], sends a typing notification")},
    {"UNBAN", cmd_unban, 1, NEEDS_CHANNEL_TAB, 1, N_("UNBAN <mask> [<mask>...], unbans the specified masks.")},
    {"UNIGNORE", cmd_unignore, 0, 0, 1, N_("UNIGNORE <mask> [QUIET]")},
    {"UNLOAD", cmd_unload, 0, 0, 1, N_("UNLOAD <name>, unloads a plugin or script")},
    {"UNQUIET", cmd_unquiet, 1, NEEDS_CHANNEL_TAB, 1, N_("UNQUIET <mask> [<mask>...], unquiets the specified masks if supported by the server")},
    {"URL", cmd_url, 0, 0, 1, N_("URL <url>, opens a URL in your browser")},
    {"USELECT", cmd_uselect, 0, 1, 0, N_("USELECT [-a] [-s] <nick1> <nick2> etc, highlights nick(s) in channel userlist")},
    {"USERLIST", cmd_userlist, 1, 1, 1, nullptr},
    {"VOICE", cmd_voice, 1, NEEDS_CHANNEL_TAB, 1, N_("VOICE <nick>, gives voice status to someone (needs chanop)")},
    {"WALLCHOP", cmd_wallchop, 1, 1, 1, N_("WALLCHOP <message>, sends the message to all chanops on the current channel")},
};
// clang-format on
const int xc_cmds_count = sizeof xc_cmds / sizeof xc_cmds[0];

namespace
{

int compare_command_name(const void *key, const void *row)
{
    return g_ascii_strcasecmp(static_cast<const char *>(key), static_cast<const commands *>(row)->name);
}

} // namespace

const commands *find_internal_command(const char *name)
{
    return static_cast<const commands *>(
        bsearch(name, xc_cmds, xc_cmds_count, sizeof xc_cmds[0], compare_command_name));
}
