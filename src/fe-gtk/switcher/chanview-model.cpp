#include "switcher/chanview-model.h"

#include <glib.h>

#include <algorithm>

std::string chanview_shown_name(const std::string &name, int trunc_len)
{
    if (trunc_len < 3 || g_utf8_strlen(name.c_str(), -1) <= trunc_len)
        return name;
    const char *end = g_utf8_offset_to_pointer(name.c_str(), trunc_len);
    return std::string(name.c_str(), end) + "..";
}

chanview_model::~chanview_model() = default;

chan *chanview_model::add(const std::string &name, void *family, void *userdata, bool allow_children, int tag, int icon)
{
    auto owned = std::make_unique<chan>();
    chan *ch = owned.get();
    ch->cv = this;
    ch->name = name;
    ch->family = family;
    ch->userdata = userdata;
    ch->allow_children = allow_children;
    ch->tag = tag;
    ch->icon = icon;
    all_.push_back(std::move(owned));
    place(ch);
    return ch;
}

// Joins the family whose root has the same family value, else becomes a root.
void chanview_model::place(chan *ch)
{
    ch->parent = nullptr;
    chan *root = nullptr;
    if (ch->family) {
        for (chan *r : roots_)
            if (r->family == ch->family && r != ch) {
                root = r;
                break;
            }
    }
    if (!root) {
        roots_.push_back(ch);
        return;
    }
    ch->parent = root;
    auto &kids = root->children;
    if (sorted && compare && ch->tag == 0) {
        auto at = std::find_if(kids.begin(), kids.end(), [&](chan *k) { return k->tag == 0 && compare(k, ch) > 0; });
        kids.insert(at, ch);
    } else {
        kids.push_back(ch);
    }
}

std::vector<chan *> chanview_model::display_order() const
{
    std::vector<chan *> out;
    out.reserve(all_.size());
    for (chan *r : roots_) {
        out.push_back(r);
        out.insert(out.end(), r->children.begin(), r->children.end());
    }
    return out;
}

bool chanview_model::remove(chan *ch, bool force, chan **new_focus)
{
    if (new_focus)
        *new_focus = focused;
    if (!force && !ch->children.empty() && !ch->allow_children)
        return false;

    if (focused == ch) {
        const auto order = display_order();
        const auto at = std::find(order.begin(), order.end(), ch) - order.begin();
        chan *next = nullptr;
        if (at > 0)
            next = order[at - 1];
        else if (at + 1 < static_cast<long>(order.size()))
            next = order[at + 1];
        // A child of the removed tab is re-placed, not removed: it may keep the focus.
        focused = next;
        if (new_focus)
            *new_focus = next;
    }

    std::vector<chan *> orphans = std::move(ch->children);
    ch->children.clear();
    if (ch->parent) {
        auto &sib = ch->parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), ch), sib.end());
    } else {
        const auto at = std::find(roots_.begin(), roots_.end(), ch);
        roots_.erase(at);
    }
    for (chan *o : orphans)
        place(o);
    all_.erase(std::remove_if(all_.begin(), all_.end(), [ch](const auto &p) { return p.get() == ch; }), all_.end());
    return true;
}

void chanview_model::rename(chan *ch, const std::string &name)
{
    ch->name = name;
}

chan *chanview_model::move_focus_target(bool relative, int number) const
{
    const auto order = display_order();
    if (order.empty())
        return nullptr;
    const int n = static_cast<int>(order.size());
    if (!relative)
        return number >= 0 && number < n ? order[number] : nullptr;
    const auto it = std::find(order.begin(), order.end(), focused);
    const int from = it == order.end() ? 0 : static_cast<int>(it - order.begin());
    const int to = ((from + number) % n + n) % n;
    return order[to];
}

namespace
{
void shift(std::vector<chan *> &v, chan *ch, int delta)
{
    const auto it = std::find(v.begin(), v.end(), ch);
    if (it == v.end())
        return;
    const long from = it - v.begin();
    const long to = std::clamp<long>(from + delta, 0, static_cast<long>(v.size()) - 1);
    v.erase(v.begin() + from);
    v.insert(v.begin() + to, ch);
}
} // namespace

void chanview_model::move(chan *ch, int delta)
{
    shift(ch->parent ? ch->parent->children : roots_, ch, delta);
}

void chanview_model::move_family(chan *ch, int delta)
{
    shift(roots_, ch->parent ? ch->parent : ch, delta);
}

void chanview_model::resort()
{
    if (!compare)
        return;
    for (chan *r : roots_) {
        auto &kids = r->children;
        if (kids.size() < 2)
            continue;
        // Stable, and tagged rows (utility pages) keep their places.
        std::vector<chan *> untagged;
        for (chan *k : kids)
            if (k->tag == 0)
                untagged.push_back(k);
        std::stable_sort(untagged.begin(), untagged.end(), [this](chan *a, chan *b) { return compare(a, b) < 0; });
        auto next = untagged.begin();
        for (chan *&k : kids)
            if (k->tag == 0)
                k = *next++;
    }
}
