// What a user-list or dialog button runs: its command expanded for the nicks
// it acts on. Toolkit-free (built into the unit tests).
#pragma once

#include <string>
#include <vector>

struct button_target {
    std::string nick;
    std::string host; // user@host, empty when unknown
};

struct button_context {
    std::string channel;
    std::string network;
    std::string own_nick;
};

// The command lines to run, in order: a command using %a runs once with %a
// every nick (blank-separated) and %s the first; any other runs once per
// nick with %s that nick and %h its host, or once with them empty when no
// nick is given. %c is the channel, %e the network, %n the own nick. A
// command whose expansion fails (it uses an absent word) gives no line.
std::vector<std::string> button_commands(const std::string &command, const std::vector<button_target> &targets,
                                         const button_context &context);
