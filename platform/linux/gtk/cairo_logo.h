// The logo on cairo and gdk-pixbuf, drawn into the target the dialog's drawing handler sets.
#pragma once

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>

#include "platform/window.h"

// What UiDrawLogo draws onto while the dialog's logo area is being drawn (borrowed, in the
// dialog's coordinates); null otherwise, and then UiDrawLogo draws nothing.
void SetDialogPaintTarget(cairo_t* target);
// Image bytes carried in the program (embedded.h), decoded by gdk-pixbuf's loader for
// `type` ("bmp", "ico"): a reference of the caller's own, null when they do not decode.
GdkPixbuf* DecodeEmbedded(const char* type, const std::uint8_t* bytes, std::uint32_t size);
// The logo as UiDrawLogo draws it, onto `target`: the embedded bitmap with `keyColour` left out,
// stretched into the rectangle `place` gives for its size. False when there is nothing to draw.
bool DrawKeyedLogo(cairo_t* target, std::uint32_t keyColour,
                   LogoPlacement (*place)(std::int32_t width, std::int32_t height));
