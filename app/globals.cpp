#include "app/globals.h"

ModuleHandle g_hInstance = 0;
WindowHandle g_hMainDlg = 0;
NotifyHandle g_hDevNotify = 0;
