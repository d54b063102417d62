// The ban list window of a channel (bans, exceptions, invites, quiets).
#pragma once

struct session;

// Opens (or brings to the front) the window of a channel session.
void banlist_opengui(session *sess);
// The session is going away: its window closes without touching it.
void banlist_session_gone(session *sess) noexcept;
