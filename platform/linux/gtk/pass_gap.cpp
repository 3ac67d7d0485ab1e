#include "platform/linux/gtk/pass_gap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <glib.h>

namespace {

bool g_watching = false;
gint64 g_lastPassEnd = 0;
gint64 g_largest = 0;

}  // namespace

void BeginPassGapWatch() {
    const char* wanted = g_getenv("VELTABOX_REPORT_PASS_GAP");
    g_watching = wanted != nullptr && std::strcmp(wanted, "1") == 0;
    g_lastPassEnd = g_get_monotonic_time();
    g_largest = 0;
}

void NotePassStart() {
    if (!g_watching) return;
    const gint64 gap = g_get_monotonic_time() - g_lastPassEnd;
    if (gap > g_largest) g_largest = gap;
}

void NotePassEnd() {
    if (g_watching) g_lastPassEnd = g_get_monotonic_time();
}

void EndPassGapWatch() {
    if (!g_watching) return;
    NotePassStart();
    g_watching = false;
    std::fprintf(stderr, "%s: largest gap between main-loop passes during the update: %.1f ms\n",
                 program_invocation_short_name, static_cast<double>(g_largest) / 1000.0);
}
