// One key typed into a 400-character input line full of formatting codes:
// the change handler (the formatting spans and the spell check of every
// word) and the one layout the entry then builds to draw. Run it under
// tests/gui/with-xvfb.sh (it needs a display, Enchant and hunspell-en-us for
// the spelling half). The spans alone are measured without a display too.
#include "config/cfgfiles.h"
#include "input/input-attrs.h"
#include "input/spell-entry.h"
#include "theme/theme-runtime.h"

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

namespace
{

GtkWidget *window = nullptr;

// About 400 bytes: words in colours, bold and underline, a few misspelt.
std::string formatted_line()
{
    std::string s;
    for (int i = 0; s.size() < 400; ++i)
        s += i % 5 == 0   ? "\x03" + std::to_string(i % 99) + ",01colour "
             : i % 5 == 1 ? std::string("\x02") + "bold\x02 "
             : i % 5 == 2 ? std::string("\x1f") + "undrline\x1f "
             : i % 5 == 3 ? std::string("speling ")
                          : std::string("words ");
    return s;
}

void type_one_key(benchmark::State &state, bool spelling, bool formatting)
{
    GtkWidget *entry = sexy_spell_entry_new();
    sexy_spell_entry_set_checked(SEXY_SPELL_ENTRY(entry), spelling);
    sexy_spell_entry_set_parse_attributes(SEXY_SPELL_ENTRY(entry), formatting);
    if (spelling)
        sexy_spell_entry_activate_language(SEXY_SPELL_ENTRY(entry), "en_US", nullptr);
    gtk_container_add(GTK_CONTAINER(window), entry);
    gtk_widget_show(entry);
    gtk_entry_set_text(GTK_ENTRY(entry), formatted_line().c_str());
    const int middle = gtk_entry_get_text_length(GTK_ENTRY(entry)) / 2;
    for (auto _ : state) {
        int pos = middle;
        gtk_editable_insert_text(GTK_EDITABLE(entry), "x", 1, &pos);
        int w = 0;
        pango_layout_get_pixel_size(gtk_entry_get_layout(GTK_ENTRY(entry)), &w, nullptr);
        benchmark::DoNotOptimize(w);
        gtk_editable_delete_text(GTK_EDITABLE(entry), middle, middle + 1);
    }
    // Each iteration is two changes (the key and taking it back).
    state.SetLabel("a key and its removal, one layout");
    gtk_widget_destroy(entry);
}

void BM_KeyWithFormattingAndSpelling(benchmark::State &state)
{
    type_one_key(state, true, true);
}
BENCHMARK(BM_KeyWithFormattingAndSpelling)->Unit(benchmark::kMicrosecond);

void BM_KeyWithFormatting(benchmark::State &state)
{
    type_one_key(state, false, true);
}
BENCHMARK(BM_KeyWithFormatting)->Unit(benchmark::kMicrosecond);

void BM_KeyWithSpelling(benchmark::State &state)
{
    type_one_key(state, true, false);
}
BENCHMARK(BM_KeyWithSpelling)->Unit(benchmark::kMicrosecond);

void BM_KeyPlainEntry(benchmark::State &state)
{
    type_one_key(state, false, false);
}
BENCHMARK(BM_KeyPlainEntry)->Unit(benchmark::kMicrosecond);

void BM_FormattingSpans(benchmark::State &state)
{
    const std::string line = formatted_line();
    for (auto _ : state)
        benchmark::DoNotOptimize(input_attrs_build(line));
}
BENCHMARK(BM_FormattingSpans)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    load_default_config();
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: run through tests/gui/with-xvfb.sh\n");
        return 1;
    }
    theme_runtime_load_from_text(nullptr);
    window = gtk_offscreen_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 40);
    gtk_widget_show(window);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gtk_widget_destroy(window);
    return 0;
}
