// The formatting bytes of IRC text (bold, colour, reset and the rest), as
// typed into the input line, sent, received and drawn.
#pragma once

inline constexpr char CODE_BOLD = '\002';
inline constexpr char CODE_COLOR = '\003';
inline constexpr char CODE_BEEP = '\007';
inline constexpr char CODE_HIDDEN = '\010';
inline constexpr char CODE_RESET = '\017';
inline constexpr char CODE_REVERSE = '\026';
inline constexpr char CODE_ITALIC = '\035';
inline constexpr char CODE_STRIKE = '\036';
inline constexpr char CODE_UNDERLINE = '\037';
