#include "theme-runtime.h"

#include "config/cfgfiles.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

struct color_set {
    theme_palette colors;
    bool user[THEME_TOKEN_COUNT] = {};
    bool has_user = false;
};

struct runtime {
    theme_palette active = theme_palette_builtin_light();
    color_set light{theme_palette_builtin_light()};
    color_set dark{theme_palette_builtin_dark()};
    bool dark_active = false;
};

runtime &rt()
{
    static runtime r;
    return r;
}

bool valid_token(int token)
{
    if (token >= 0 && token < THEME_TOKEN_COUNT)
        return true;
    g_warning("colour token %d out of range", token);
    return false;
}

bool same16(const theme_palette &a, const theme_palette &b)
{
    for (int i = 0; i < THEME_TOKEN_COUNT; ++i) {
        uint16_t r1, g1, b1, r2, g2, b2;
        theme_palette_color_get_rgb16(&a.colors[i], &r1, &g1, &b1);
        theme_palette_color_get_rgb16(&b.colors[i], &r2, &g2, &b2);
        if (r1 != r2 || g1 != g2 || b1 != b2)
            return false;
    }
    return true;
}

std::string token_key(const char *mode, int token)
{
    gchar *k = g_strdup_printf("theme.mode.%s.token.%s", mode, theme_palette_token_name(token));
    std::string key(k);
    g_free(k);
    return key;
}

std::string legacy_key(bool dark, int token)
{
    int legacy = 0;
    theme_palette_token_to_legacy_index(token, &legacy);
    const int n = token < 32 ? legacy : legacy + 224;
    gchar *k = g_strdup_printf("%s_%d", dark ? "dark_color" : "color", n);
    std::string key(k);
    g_free(k);
    return key;
}

void read_set(char *text, color_set &set, bool dark)
{
    for (int t = 0; t < THEME_TOKEN_COUNT; ++t) {
        guint16 r, g, b;
        std::string key = token_key(dark ? "dark" : "light", t);
        if (!cfg_get_color(text, key.c_str(), &r, &g, &b)) {
            key = legacy_key(dark, t);
            if (!cfg_get_color(text, key.c_str(), &r, &g, &b))
                continue;
        }
        set.colors.colors[t] = {r / 65535.0, g / 65535.0, b / 65535.0, 1.0};
        set.user[t] = true;
        set.has_user = true;
    }
}

void write_set(std::string &out, const color_set &set, const char *mode)
{
    for (int t = 0; t < THEME_TOKEN_COUNT; ++t) {
        if (!set.user[t])
            continue;
        uint16_t r, g, b;
        theme_palette_color_get_rgb16(&set.colors.colors[t], &r, &g, &b);
        char line[160];
        std::snprintf(line, sizeof line, "%s = %04hx %04hx %04hx\n", token_key(mode, t).c_str(), r, g, b);
        out += line;
    }
}

void set_user_color(color_set &set, int token, const theme_color *color)
{
    runtime &r = rt();
    if (!color || !valid_token(token))
        return;
    if (!set.has_user)
        set.colors = r.active;
    set.colors.colors[token] = *color;
    set.colors.colors[token].alpha = 1.0;
    set.user[token] = true;
    set.has_user = true;
}

} // namespace

void theme_runtime_load_from_text(const char *text)
{
    runtime &r = rt();
    r = runtime{};
    if (text) {
        char *copy = g_strdup(text);
        read_set(copy, r.light, false);
        read_set(copy, r.dark, true);
        g_free(copy);
    }
    r.active = r.light.colors;
    r.dark_active = false;
}

void theme_runtime_load(void)
{
    gchar *path = g_build_filename(get_xdir(), "colors.conf", nullptr);
    gchar *text = nullptr;
    if (!g_file_get_contents(path, &text, nullptr, nullptr))
        text = nullptr;
    theme_runtime_load_from_text(text);
    g_free(text);
    g_free(path);
}

std::string theme_runtime_save_text(void)
{
    runtime &r = rt();
    if (r.dark_active) {
        if (!r.light.has_user)
            r.light.colors = r.active;
        if (!r.dark.has_user) {
            r.dark.colors = r.active;
            r.dark.has_user = true;
        }
    } else {
        // Colours the user set since the mode was last applied are not in
        // the active palette yet; they must not be lost by saving.
        for (int t = 0; t < THEME_TOKEN_COUNT; ++t)
            if (!r.light.user[t])
                r.light.colors.colors[t] = r.active.colors[t];
    }
    r.light.has_user = true;
    std::string out = "theme.palette.semantic_migrated = 1\n";
    write_set(out, r.light, "light");
    if (r.dark.has_user)
        write_set(out, r.dark, "dark");
    return out;
}

bool theme_runtime_save_prepare(char **path)
{
    if (!path)
        return false;
    *path = nullptr;
    gchar *temp = g_build_filename(get_xdir(), "colors.conf.new.XXXXXX", nullptr);
    const int fd = g_mkstemp_full(temp, O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        g_free(temp);
        return false;
    }
    const std::string text = theme_runtime_save_text();
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        g_unlink(temp);
        g_free(temp);
        return false;
    }
    *path = temp;
    return true;
}

bool theme_runtime_save_finalize(const char *path)
{
    if (!path)
        return false;
    gchar *target = g_build_filename(get_xdir(), "colors.conf", nullptr);
    const bool ok = g_rename(path, target) == 0;
    if (!ok)
        g_unlink(path);
    g_free(target);
    return ok;
}

void theme_runtime_save_discard(const char *path)
{
    if (path)
        g_unlink(path);
}

bool theme_runtime_save(void)
{
    char *path = nullptr;
    if (!theme_runtime_save_prepare(&path))
        return false;
    const bool ok = theme_runtime_save_finalize(path);
    g_free(path);
    return ok;
}

int theme_runtime_apply_mode(int, bool *changed)
{
    const bool c = theme_runtime_apply_dark_mode(false);
    if (changed)
        *changed = c;
    return 0;
}

bool theme_runtime_apply_dark_mode(bool dark)
{
    runtime &r = rt();
    const theme_palette before = r.active;
    if (!r.light.has_user) {
        r.light.colors = r.active;
        r.light.has_user = true;
    }
    r.active = dark ? r.dark.colors : r.light.colors;
    r.dark_active = dark;
    return !same16(before, r.active);
}

bool theme_runtime_is_dark_active(void)
{
    return rt().dark_active;
}

void theme_runtime_user_set_color(int token, const theme_color *color)
{
    set_user_color(rt().light, token, color);
}

void theme_runtime_dark_set_color(int token, const theme_color *color)
{
    set_user_color(rt().dark, token, color);
}

void theme_runtime_reset_mode_colors(void)
{
    runtime &r = rt();
    r.light = color_set{theme_palette_builtin_light()};
    r.light.has_user = true;
    r.dark = color_set{theme_palette_builtin_dark()};
    r.active = r.light.colors;
    r.dark_active = false;
}

void theme_runtime_clear_gtk_mapped_custom_tokens(void)
{
    runtime &r = rt();
    for (int t = THEME_TOKEN_SELECTION_FOREGROUND; t <= THEME_TOKEN_TEXT_BACKGROUND; ++t)
        r.light.user[t] = r.dark.user[t] = false;
}

bool theme_runtime_mode_has_user_colors(bool dark)
{
    return dark ? rt().dark.has_user : rt().light.has_user;
}

bool theme_runtime_light_token_is_user_set(int token)
{
    return token >= 0 && token < THEME_TOKEN_COUNT && rt().light.user[token];
}

const theme_palette &theme_runtime_active_palette(void)
{
    return rt().active;
}

bool theme_runtime_get_color(int token, theme_color *out)
{
    return theme_palette_get_color(&rt().active, token, out);
}

void theme_runtime_get_widget_style_values(theme_widget_style_values *values)
{
    theme_palette_to_widget_style_values(&rt().active, values);
}

void theme_runtime_get_xtext_colors(theme_color *array, std::size_t count)
{
    theme_palette_fill_xtext(&rt().active, array, count);
}

bool theme_get_color(int token, theme_color *out)
{
    return theme_runtime_get_color(token, out);
}

bool theme_get_color_rgb16(int token, uint16_t *r, uint16_t *g, uint16_t *b)
{
    theme_color c;
    if (!theme_get_color(token, &c))
        return false;
    theme_palette_color_get_rgb16(&c, r, g, b);
    return true;
}

bool theme_get_mirc_color(int index, theme_color *out)
{
    if (!out || index < 0 || index > 98)
        return false;
    if (index < 32)
        return theme_get_color(index, out);
    return theme_extended_mirc_color(index, out);
}

bool theme_get_mirc_color_rgb16(int index, uint16_t *r, uint16_t *g, uint16_t *b)
{
    theme_color c;
    if (!r || !g || !b || !theme_get_mirc_color(index, &c))
        return false;
    if (index < 32) {
        theme_palette_color_get_rgb16(&c, r, g, b);
    } else {
        // The fixed colours are 8-bit values widened exactly.
        *r = static_cast<uint16_t>(static_cast<unsigned>(c.red * 255.0 + 0.5) * 257);
        *g = static_cast<uint16_t>(static_cast<unsigned>(c.green * 255.0 + 0.5) * 257);
        *b = static_cast<uint16_t>(static_cast<unsigned>(c.blue * 255.0 + 0.5) * 257);
    }
    return true;
}

bool theme_get_legacy_color(int legacy_index, theme_color *out)
{
    int token = 0;
    return theme_palette_legacy_index_to_token(legacy_index, &token) && theme_get_color(token, out);
}

void theme_get_widget_style_values(theme_widget_style_values *values)
{
    theme_runtime_get_widget_style_values(values);
}

void theme_get_xtext_colors(theme_color *array, std::size_t count)
{
    theme_runtime_get_xtext_colors(array, count);
}
