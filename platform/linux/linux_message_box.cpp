// MessageBoxW on GTK 3: a GtkMessageDialog, modal to and centred on its owner, run by
// gtk_dialog_run. That runs a nested main loop, so device notifications reach the dialog
// procedure while the box is open, and paints are done, as in MessageBoxW's own loop; input to
// the owner is blocked by the box's modality, as Windows blocks it by disabling the owner.
#include <gtk/gtk.h>

#include "platform/linux/linux_text.h"
#include "platform/linux/linux_windows.h"
#include "platform/window.h"
#include "platform/window_constants.h"

namespace {

constexpr std::uint32_t BUTTONS_MASK = 0x0F;
constexpr std::uint32_t ICON_MASK = 0xF0;
constexpr std::uint32_t MB_ICONQUESTION = 0x20;
constexpr std::uint32_t MB_ICONINFORMATION = 0x40;

GtkMessageType MessageTypeOf(std::uint32_t type) {
    switch (type & ICON_MASK) {
        case MB_ICONERROR:
            return GTK_MESSAGE_ERROR;
        case MB_ICONWARNING:
            return GTK_MESSAGE_WARNING;
        case MB_ICONQUESTION:
            return GTK_MESSAGE_QUESTION;
        case MB_ICONINFORMATION:
            return GTK_MESSAGE_INFO;
        default:
            return GTK_MESSAGE_OTHER;
    }
}

}  // namespace

// Yes and No for MB_YESNO, with Yes the default button as on Windows; OK for everything else.
// A Yes/No box closed without an answer (Escape, its close box; Windows offers neither) counts
// as No, the answer that changes nothing; an OK box closed so counts as OK.
//
// An owner that is gone (the dialog destroyed by another X client during the update) fails the
// call with 0, as MessageBoxW fails for a window handle that names nothing: no box is left
// behind without the window it belongs to.
int UiMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, std::uint32_t type) {
    GtkWidget* ownerWidget = WidgetOf(owner);
    if (owner != 0 && ownerWidget == nullptr) return 0;
    GtkWindow* parent = ownerWidget != nullptr && GTK_IS_WINDOW(ownerWidget) ? GTK_WINDOW(ownerWidget) : nullptr;
    const bool question = (type & BUTTONS_MASK) == MB_YESNO;
    GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, MessageTypeOf(type),
                                            question ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                            Utf8FromUtf16(text).c_str());
    gtk_window_set_title(GTK_WINDOW(box), Utf8FromUtf16(caption).c_str());
    // GtkMessageDialog names itself to assistive technologies by its type ("Error"); a Windows
    // message box is announced by its caption, and so is this one.
    atk_object_set_name(gtk_widget_get_accessible(box), Utf8FromUtf16(caption).c_str());
    gtk_dialog_set_default_response(GTK_DIALOG(box), question ? GTK_RESPONSE_YES : GTK_RESPONSE_OK);
    const gint response = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    if (!question) return IDOK;
    return response == GTK_RESPONSE_YES ? IDYES : IDNO;
}
