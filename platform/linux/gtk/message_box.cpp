// The message boxes of platform/window.h on GTK 3: a GtkMessageDialog, modal to and centred on
// the dialog, run by gtk_dialog_run. That runs a nested main loop, so device events reach the
// logic while the box is open, and paints are done, as in MessageBoxW's own loop; input to the
// dialog is blocked by the box's modality, as Windows blocks it by disabling the owner.
#include <gtk/gtk.h>

#include "platform/linux/gtk/dialog.h"
#include "platform/linux/gtk/text.h"
#include "platform/window.h"

namespace {

// A dialog that is gone (destroyed by another X client during the update) gets no box: none is
// left behind without the window it belongs to, and a question counts as not answered.
gint RunMessageBox(GtkMessageType type, GtkButtonsType buttons, gint defaultResponse, const char16_t* text,
                   const char16_t* caption) {
    if (DialogGone()) return GTK_RESPONSE_NONE;
    GtkWidget* owner = RunningDialog();
    GtkWidget* box = gtk_message_dialog_new(owner != nullptr ? GTK_WINDOW(owner) : nullptr, GTK_DIALOG_MODAL, type,
                                            buttons, "%s", Utf8FromUtf16(text).c_str());
    gtk_window_set_title(GTK_WINDOW(box), Utf8FromUtf16(caption).c_str());
    // GtkMessageDialog names itself to assistive technologies by its type ("Error"); a Windows
    // message box is announced by its caption, and so is this one.
    atk_object_set_name(gtk_widget_get_accessible(box), Utf8FromUtf16(caption).c_str());
    gtk_dialog_set_default_response(GTK_DIALOG(box), defaultResponse);
    const gint response = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    return response;
}

}  // namespace

// Yes is the default button, as on Windows. A question closed without an answer (Escape, its
// close box; Windows offers neither) counts as No, the answer that changes nothing.
bool UiAskYesNo(const char16_t* text, const char16_t* caption) {
    return RunMessageBox(GTK_MESSAGE_WARNING, GTK_BUTTONS_YES_NO, GTK_RESPONSE_YES, text, caption) == GTK_RESPONSE_YES;
}

void UiShowError(const char16_t* text, const char16_t* caption) {
    RunMessageBox(GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, GTK_RESPONSE_OK, text, caption);
}
