// The program's long-lived handles. g_device (device/device_record.h) is the fourth global.
#pragma once

#include "platform/window.h"

extern ModuleHandle g_hInstance;
extern WindowHandle g_hMainDlg;
extern NotifyHandle g_hDevNotify;
