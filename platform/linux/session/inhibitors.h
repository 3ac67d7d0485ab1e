// The two locks the write takes on the desktop: logind's against sleep, shutdown, idling and the
// lid switch, and the session manager's against logging out. Both are asked for without waiting
// (the window system must be answered meanwhile); the caller runs held passes until each has
// settled, and a lock that comes later than that is still taken, or let go at once when the write
// has ended by then. A lock that cannot be had is said once on standard error; the write runs
// all the same.
#pragma once

#include <string>

#include <gtk/gtk.h>

void BeginLogindLock(const std::string& reason);
bool LogindLockSettled();
void EndLogindLock();

// `toplevel` is the window the session manager names when it asks the user about logging out.
void BeginLogoutLock(const std::string& reason, GtkWidget* toplevel);
bool LogoutLockSettled();
// Asks for the lock to be let go; settled when the session manager has answered.
void EndLogoutLock();
bool LogoutLockReleased();
