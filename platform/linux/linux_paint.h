// Device contexts and bitmaps for the logic's GDI-shaped drawing calls, on cairo and
// gdk-pixbuf. Both are slot numbers in tables of their own, checked before every use.
#pragma once

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>

#include "platform/window.h"

// A context that draws onto `target` (borrowed, may be null: then it only records colours), in
// the coordinates the target already has. Released with ClosePaintContext.
DrawContext OpenPaintContext(cairo_t* target);
void ClosePaintContext(DrawContext dc);
// The text colour the logic set on the context (0x00BBGGRR), false when it set none.
bool PaintContextTextColour(DrawContext dc, std::uint32_t* colour);
// What UiBeginPaint hands out while the dialog's drawing area is being drawn: set around the
// WM_PAINT the drawing handler sends, null otherwise.
void SetDialogPaintTarget(cairo_t* target);
// Image bytes carried in the program (linux_embedded.h), decoded by gdk-pixbuf's loader for
// `type` ("bmp", "ico"): a reference of the caller's own, null when they do not decode.
GdkPixbuf* DecodeEmbedded(const char* type, const std::uint8_t* bytes, std::uint32_t size);
// Contexts and bitmaps still held, for the checks that painting frees what it took.
int LivePaintObjects();
