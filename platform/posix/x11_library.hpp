// The X client libraries, loaded with dlopen the first time a window is
// needed: a process that never shows a window (or has no display) never
// loads them, and the driver's library needs nothing but the C library to
// load. Only the types come from the headers; every function is reached
// through the table below. The libraries stay loaded once found.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/Xft/Xft.h>

namespace vtsd::platform::x11 {

#define VTSD_X11_FUNCTIONS(F) \
  F(XOpenDisplay)             \
  F(XCloseDisplay)            \
  F(XConnectionNumber)        \
  F(XCreateSimpleWindow)      \
  F(XDestroyWindow)           \
  F(XMapWindow)               \
  F(XMapRaised)               \
  F(XSelectInput)             \
  F(XPending)                 \
  F(XNextEvent)               \
  F(XFlush)                   \
  F(XSync)                    \
  F(XInternAtom)              \
  F(XChangeProperty)          \
  F(XDeleteProperty)          \
  F(XGetWindowProperty)       \
  F(XFree)                    \
  F(XSetWMProtocols)          \
  F(XSetTransientForHint)     \
  F(XSetClassHint)            \
  F(XGetClassHint)            \
  F(XSetWMNormalHints)        \
  F(XCreateGC)                \
  F(XFreeGC)                  \
  F(XSetForeground)           \
  F(XFillRectangle)           \
  F(XDrawRectangle)           \
  F(XFillArc)                 \
  F(XClearWindow)             \
  F(XLookupKeysym)            \
  F(XKeysymToKeycode)         \
  F(XQueryTree)               \
  F(XGetWindowAttributes)     \
  F(XGetGeometry)             \
  F(XTranslateCoordinates)    \
  F(XSendEvent)               \
  F(XGetImage)                \
  F(XGetTransientForHint)     \
  F(XSetErrorHandler)

#define VTSD_XFT_FUNCTIONS(F) \
  F(XftFontOpenName)          \
  F(XftDrawCreate)            \
  F(XftDrawDestroy)           \
  F(XftDrawStringUtf8)        \
  F(XftColorAllocValue)       \
  F(XftTextExtentsUtf8)

struct Library {
#define VTSD_X11_MEMBER(name) decltype(&::name) name = nullptr;
  VTSD_X11_FUNCTIONS(VTSD_X11_MEMBER)
  VTSD_XFT_FUNCTIONS(VTSD_X11_MEMBER)
#undef VTSD_X11_MEMBER
};

// The loaded libraries, or null when libX11 or libXft (or one of their
// functions) is missing. Thread-safe; tries once per process.
const Library* Load();

// Opens the display DISPLAY names; null when the variable is empty or the
// server cannot be reached, or the libraries are missing.
Display* OpenDisplay(const Library& x);

}  // namespace vtsd::platform::x11
