// The channel switcher's data: families of tabs (a server row with its
// channels and dialogs as children, utility pages as rows of their own), in
// display order, with the focused tab. Toolkit-free: the tab bar and the tree
// presentations draw from it, and its rules are tested without a display.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct chanview_model;

// One tab. Owned by the model; the presentation keeps its widget here.
struct chan {
    chanview_model *cv = nullptr;
    void *family = nullptr;   // the server of a session tab, null for utility tabs
    void *userdata = nullptr; // the session, or the box of a utility page
    bool allow_children = false;
    int tag = 0; // 0 session, 1 utility page: never re-sorted
    int icon = 0;
    std::string name;       // the full name
    int color = 0;          // the activity level painted on it (0 plain .. 3 highlight)
    void *widget = nullptr; // the presentation's widget for it
    chan *parent = nullptr;
    std::vector<chan *> children;
};

// The shown name: with a truncation length of 3 or more, longer names keep
// that many characters followed by "..".
std::string chanview_shown_name(const std::string &name, int trunc_len);

struct chanview_model {
    // Orders two tabs of one family; negative when a comes first.
    std::function<int(chan *a, chan *b)> compare;
    bool sorted = false;
    int trunc_len = 0;
    chan *focused = nullptr;
    void *owner = nullptr; // the widget that presents it

    ~chanview_model();

    chan *add(const std::string &name, void *family, void *userdata, bool allow_children, int tag, int icon);
    // Unless forced, a tab with children that may not lose them stays (false).
    // Its children become rows of their own family again; the focus moves to
    // the tab shown before it, else the one after it (returned through
    // `new_focus`, null when none is left).
    bool remove(chan *ch, bool force, chan **new_focus);
    void rename(chan *ch, const std::string &name);
    // Tabs in display order: each root followed by its children.
    std::vector<chan *> display_order() const;
    // Relative: steps by `number` in display order, wrapping at both ends.
    // Absolute: the tab at that 0-based position, or null.
    chan *move_focus_target(bool relative, int number) const;
    // Moves a tab among its siblings by `delta` places (no wrap).
    void move(chan *ch, int delta);
    // Moves a whole family among the roots by `delta` places.
    void move_family(chan *ch, int delta);
    // Sorts the untagged children of every family with the compare function.
    void resort();
    const std::vector<chan *> &roots() const { return roots_; }
    int size() const { return static_cast<int>(all_.size()); }

  private:
    void place(chan *ch);
    std::vector<chan *> roots_;
    std::vector<std::unique_ptr<chan>> all_;
};
