// A name resolver whose answers the test sets: while a scoped_fake_resolver
// lives it is GLib's default resolver, so the core's lookups get exactly the
// names and addresses listed, and "not found" for everything else. Answers
// arrive from the main loop, as real ones do.
#pragma once

#include <map>
#include <string>
#include <vector>

class scoped_fake_resolver
{
  public:
    scoped_fake_resolver();
    ~scoped_fake_resolver();
    scoped_fake_resolver(const scoped_fake_resolver &) = delete;
    scoped_fake_resolver &operator=(const scoped_fake_resolver &) = delete;

    // Reverse lookups: address text ("127.0.0.1") to host name.
    void name_for(const std::string &address, const std::string &name);
    // Forward lookups: host name to its addresses, in order.
    void addresses_for(const std::string &name, const std::vector<std::string> &addresses);
    // Answers the caller has collected so far (forward and reverse).
    int answered() const;
};
