// The template's geometry is kept in dialog units and turned into pixels with the dialog
// font's own average character width and height, as Windows does; the controls sit in boxes and
// a grid, so that a larger font or a longer text makes the window grow instead of clipping.
#include "platform/linux/gtk/dialog_layout.h"

#include <map>
#include <string>

#include "resources/resource_ids.h"

namespace {

// The controls of the dialog being built, by their IDs.
std::map<int, GtkWidget*>* g_controls = nullptr;

struct DialogUnits {
    int charWidth;  // pixels per 4 horizontal units
    int height;     // pixels per 8 vertical units
    int X(int units) const { return units * charWidth / 4; }
    int Y(int units) const { return units * height / 8; }
};

DialogUnits UnitsOf(GtkWidget* window) {
    PangoContext* context = gtk_widget_get_pango_context(window);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, pango_context_get_font_description(context), nullptr);
    DialogUnits units{pango_font_metrics_get_approximate_char_width(metrics) / PANGO_SCALE,
                      (pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics)) / PANGO_SCALE};
    pango_font_metrics_unref(metrics);
    if (units.charWidth <= 0) units.charWidth = 6;
    if (units.height <= 0) units.height = 13;
    return units;
}

// The logic names each control by its ID, and so does the accessibility tree (tests, screen
// readers' scripts); the first control made with an ID is the one it names.
GtkWidget* Register(GtkWidget* widget, int controlId) {
    g_controls->emplace(controlId, widget);
    atk_object_set_accessible_id(gtk_widget_get_accessible(widget), std::to_string(controlId).c_str());
    return widget;
}

GtkWidget* Label(const char* text, int controlId, bool rightAligned) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), rightAligned ? 1.0f : 0.0f);
    return Register(label, controlId);
}

GtkWidget* Button(const char* text, int controlId, const DialogUnits& units) {
    GtkWidget* button = gtk_button_new_with_label(text);
    gtk_widget_set_size_request(button, units.X(50), units.Y(14));
    return Register(button, controlId);
}

// Group "Installierte Firmware Versionen" (15,10 135x57): three lines of label (x 22, width 60)
// and right-aligned value (x 90, width 50), 13 units apart.
GtkWidget* VersionGroup(const DialogUnits& units) {
    GtkWidget* frame = Register(gtk_frame_new("Installierte Firmware Versionen"), IDC_VERSION_GROUP);
    gtk_widget_set_size_request(frame, units.X(135), units.Y(57));
    GtkWidget* grid = gtk_grid_new();
    gtk_widget_set_margin_start(grid, units.X(7));
    gtk_widget_set_margin_end(grid, units.X(10));
    gtk_widget_set_margin_top(grid, units.Y(5));
    gtk_grid_set_row_spacing(GTK_GRID(grid), static_cast<guint>(units.Y(5)));
    gtk_grid_set_column_spacing(GTK_GRID(grid), static_cast<guint>(units.X(8)));
    const struct {
        const char* label;
        int labelId;
        int valueId;
    } lines[] = {{"Firmware 1:", IDC_LABEL_FW1, IDC_VALUE_FW1},
                 {"Firmware 2:", IDC_LABEL_FW2, IDC_VALUE_FW2},
                 {"Firmware 3:", IDC_LABEL_FW3, IDC_VALUE_FW3}};
    for (int row = 0; row < 3; ++row) {
        GtkWidget* label = Label(lines[row].label, lines[row].labelId, false);
        GtkWidget* value = Label("0.00.00", lines[row].valueId, true);
        gtk_widget_set_size_request(label, units.X(60), -1);
        gtk_widget_set_size_request(value, units.X(50), -1);
        gtk_widget_set_hexpand(value, TRUE);
        gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), value, 1, row, 1, 1);
    }
    gtk_container_add(GTK_CONTAINER(frame), grid);
    return frame;
}

// The hint box (15,89 271x101): read-only, wrapped at word boundaries, a vertical scroll bar
// always there (WS_VSCROLL), a thin border, no tab stop.
GtkWidget* HintBox(const DialogUnits& units) {
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
    gtk_widget_set_size_request(scrolled, units.X(271), units.Y(101));
    gtk_widget_set_vexpand(scrolled, TRUE);
    GtkWidget* text = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(text), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(text), units.X(1));
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(text), units.X(1));
    gtk_widget_set_can_focus(text, FALSE);
    gtk_container_add(GTK_CONTAINER(scrolled), Register(text, IDC_INFO_TEXT));
    return scrolled;
}

}  // namespace

// A dialog with a modal frame: a title and a close box, neither minimised, maximised nor
// resized, centred on the screen (DS_CENTER).
MainDialogWidgets BuildMainDialog() {
    MainDialogWidgets built{};
    g_controls = &built.controls;
    built.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(built.window);
    gtk_window_set_title(window, "SORVANTIK Firmware Updater");
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    const DialogUnits units = UnitsOf(built.window);

    // The controls are made in the template's order; they are placed by the boxes below.
    GtkWidget* cancel = Button("Beenden", COMMAND_CANCEL, units);
    GtkWidget* update = Button("Update", IDC_UPDATE, units);
    gtk_widget_set_sensitive(update, FALSE);
    GtkWidget* group = VersionGroup(units);
    GtkWidget* hint = HintBox(units);
    GtkWidget* hintLabel = Label("Hinweisfenster:", ID_HINT_LABEL, false);

    // Rows: the group with the logo beside it (y 10), the label (y 79), the hint box (y 89), the
    // buttons (y 199, "Update" at x 61 and "Beenden" at x 157). Margins 15 left, 14 right, 10 top.
    GtkWidget* rows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_margin_start(rows, units.X(15));
    gtk_widget_set_margin_end(rows, units.X(14));
    gtk_widget_set_margin_top(rows, units.Y(10));
    gtk_widget_set_margin_bottom(rows, units.Y(15));

    GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(top), group, FALSE, FALSE, 0);
    built.logoArea = gtk_drawing_area_new();
    gtk_widget_set_size_request(built.logoArea, units.X(136), units.Y(57));
    gtk_widget_set_hexpand(built.logoArea, TRUE);
    gtk_box_pack_start(GTK_BOX(top), built.logoArea, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(rows), top, FALSE, FALSE, 0);

    gtk_widget_set_margin_top(hintLabel, units.Y(12));
    gtk_widget_set_margin_bottom(hintLabel, units.Y(2));
    gtk_box_pack_start(GTK_BOX(rows), hintLabel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(rows), hint, TRUE, TRUE, 0);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, units.X(46));
    gtk_widget_set_halign(buttons, GTK_ALIGN_START);
    gtk_widget_set_margin_start(buttons, units.X(46));
    gtk_widget_set_margin_top(buttons, units.Y(9));
    gtk_box_pack_start(GTK_BOX(buttons), update, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(buttons), cancel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(rows), buttons, FALSE, FALSE, 0);

    gtk_container_add(GTK_CONTAINER(window), rows);
    // "Beenden" is the default push button: Enter presses it.
    gtk_widget_set_can_default(cancel, TRUE);
    gtk_window_set_default(window, cancel);
    g_controls = nullptr;
    return built;
}
