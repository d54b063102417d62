// The DCC wire format: parsing the words of a received DCC request, quoting
// names for the ones we send, checking received file names, and widening the
// peer's 32-bit acknowledgements. Pure functions, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a received DCC request carries. Numbers that do not parse are 0;
// `port` and `token` keep values that do not fit a port so the caller can
// call them malformed.
struct dcc_request {
    enum type { CHAT, SEND, RESUME, ACCEPT, OTHER } kind = OTHER;
    std::string name;     // SEND/RESUME/ACCEPT: the file name, quotes removed
    uint32_t address = 0; // SEND/CHAT: host order
    uint64_t port = 0;
    uint64_t size = 0;     // SEND
    uint64_t position = 0; // RESUME/ACCEPT
    uint64_t token = 0;    // passive token, 0 when none
    bool has_token = false;
};

// Splits the text after "DCC " into words, a double-quoted run staying one
// word (a doubled quote inside stands for one quote). A trailing CTCP 0x01 is
// dropped.
std::vector<std::string> dcc_split_words(std::string_view text);

// Reads words[0] (the kind, ASCII case ignored) and its arguments. nullopt
// when the arguments the kind needs are missing.
std::optional<dcc_request> dcc_parse_request(const std::vector<std::string> &words);

// A plain decimal number that fits 64 bits; false otherwise.
bool dcc_parse_number(std::string_view text, uint64_t *out);

// True when `name` may be used as a file name inside the download folder:
// not empty, not "." or "..", no leading dot, no '/' or '\\', no control
// characters.
bool dcc_name_is_safe(std::string_view name);

// The name as it goes out in a request: control characters and double
// quotes become '_', and the whole is quoted when it holds a blank.
std::string dcc_wire_name(std::string_view name);

// The 64-bit position a 32-bit acknowledgement stands for: the largest value
// at or below `position` whose low 32 bits are `ack`. nullopt when there is
// none (the peer acknowledged bytes that were never sent).
std::optional<uint64_t> dcc_widen_ack(uint32_t ack, uint64_t position);

// A percentage of `done` out of `size` for display; a zero-byte transfer is
// 0 until it is complete, then 100.
double dcc_percent(uint64_t done, uint64_t size, bool complete);
