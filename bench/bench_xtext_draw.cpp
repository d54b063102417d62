// Drawing the conversation view: a full 800x600 window into an image
// surface with 1,000 or 100,000 lines held, at the bottom and half-way up.
// The cost must follow the visible lines only. Needs a display:
//   tests/gui/with-xvfb.sh build-bench/bench/bench_xtext_draw
#include "config/cfgfiles.h"
#include "textview/gtkxtext.h"
#include "theme/theme-gtk.h"

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

namespace
{

GtkWidget *window = nullptr;
GtkWidget *view = nullptr;

void pump()
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

xtext_buffer *filled(int lines)
{
    auto *x = GTK_XTEXT(view);
    xtext_buffer *buf = gtk_xtext_buffer_new(x);
    gtk_xtext_set_time_stamp(buf, true);
    gtk_xtext_buffer_show(x, buf, true);
    for (int i = 0; i < lines; ++i) {
        const std::string nick = "<nick" + std::to_string(i % 13) + ">";
        const std::string text = "line " + std::to_string(i) +
                                 " with \x03"
                                 "04red\x03, \x02"
                                 "bold\x02 and \x03"
                                 "0,2reverse colours\x0f"
                                 " and enough words to wrap now and then at 800 pixels when the nick is long";
        gtk_xtext_append_indent(buf, nick.c_str(), -1, text.c_str(), -1, 1700000000 + i);
    }
    pump();
    return buf;
}

void BM_Redraw(benchmark::State &state)
{
    const int lines = static_cast<int>(state.range(0));
    const bool middle = state.range(1) != 0;
    xtext_buffer *buf = filled(lines);
    GtkAdjustment *adj = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
    if (middle)
        gtk_adjustment_set_value(adj, gtk_adjustment_get_upper(adj) / 2);
    pump();
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 800, 600);
    for (auto _ : state) {
        cairo_t *cr = cairo_create(surface);
        gtk_widget_draw(view, cr);
        cairo_destroy(cr);
    }
    cairo_surface_destroy(surface);
    state.counters["top_line"] = gtk_adjustment_get_value(adj);
    gtk_xtext_buffer_free(buf);
}
BENCHMARK(BM_Redraw)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000, 1})
    ->Args({100000, 1})
    ->Unit(benchmark::kMicrosecond);

int draws = 0;

gboolean count_draw(GtkWidget *, cairo_t *, gpointer) noexcept
{
    ++draws;
    return FALSE;
}

// 100,000 lines appended to the shown buffer at the bottom, limit 100,000,
// the main loop running every 100 lines as it would between socket reads:
// redraws are collected, not made per line.
void BM_AppendShown(benchmark::State &state)
{
    auto *x = GTK_XTEXT(view);
    gtk_xtext_set_max_lines(x, 100000);
    const gulong handler = g_signal_connect(view, "draw", G_CALLBACK(count_draw), nullptr);
    for (auto _ : state) {
        xtext_buffer *buf = gtk_xtext_buffer_new(x);
        gtk_xtext_set_time_stamp(buf, true);
        gtk_xtext_buffer_show(x, buf, true);
        draws = 0;
        for (int i = 0; i < 100000; ++i) {
            const std::string nick = "<nick" + std::to_string(i % 13) + ">";
            const std::string text = "message " + std::to_string(i) +
                                     " with \x03"
                                     "04colour\x03 and \x02"
                                     "bold\x02 text to fill it";
            gtk_xtext_append_indent(buf, nick.c_str(), -1, text.c_str(), -1, 1700000000 + i);
            if (i % 100 == 99)
                pump();
        }
        pump();
        state.counters["draws"] = draws;
        gtk_xtext_buffer_free(buf);
    }
    g_signal_handler_disconnect(view, handler);
}
BENCHMARK(BM_AppendShown)->Unit(benchmark::kMillisecond)->Iterations(2);

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
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    view = gtk_xtext_new(nullptr, true);
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    gtk_xtext_set_font(GTK_XTEXT(view), "Monospace 10");
    pump();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gtk_widget_destroy(window);
    return 0;
}
