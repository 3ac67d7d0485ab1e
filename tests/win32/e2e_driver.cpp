// Uses the Windows programs from outside, the way a person would: starts one, finds its dialog,
// reads what the dialog shows and presses its buttons, all through window messages, and checks
// the program's exit code at the end. Meant to run under Wine on CI, and on Windows as well.
//
//   e2e_driver [--screenshots ACK_DIR] <scenario> <program.exe>
//
//   nobox     the real program with no box attached: the no-box state, then an update forced
//             with the button disabled, which must fail with a message box, then "Beenden"
//   escape    the real program, closed with the Escape key
//   closebox  the real program, closed with the window's close box
//   demo      the demo program: the ready state, a whole update with its progress window and
//             its duration, the success state, then "Beenden"
//
// Each check prints "PASS scenario/name" or "FAIL scenario/name: why"; the last line is
// "N passed, M failed", and the exit code is 0 only when nothing failed. Every wait has a bound,
// and a program still running after a failure is terminated, so a hung program fails the run
// instead of hanging it.
//
// With --screenshots the driver prints "SCREENSHOT-NOW name left top right bottom" (the screen
// region worth keeping) at the moments worth a picture and waits, for a bounded time, until the
// file ACK_DIR\name.done appears: the script running the driver captures the screen meanwhile.
#include <windows.h>

#include <cstdio>
#include <string>

#include "resources/resource_ids.h"
#include "tests/win32/e2e_support.h"

namespace {

using namespace e2e;

// ---------------------------------------------------------------------------------------------
// nobox

void NoBox(Results& results, const std::wstring& path, const Screenshots& shots) {
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;

    ExpectText(results, "hint is the no-box text (40017, blank line, 40001)", dialog.Control(IDC_INFO_TEXT),
               Message(IDS_NO_BOX) + L"\r\n\r\n" + Message(IDS_INSTRUCTIONS));
    ExpectEnabled(results, "'Update' is disabled with no box", dialog.Control(IDC_UPDATE), false);
    ExpectText(results, "IDC_LABEL_FW2 reads \"VELTABOX\"", dialog.Control(IDC_LABEL_FW2), L"VELTABOX");
    for (const int id : {IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_VALUE_FW3})
        ExpectText(results, "IDC_VALUE_FW" + std::to_string(id - IDC_VALUE_FW1 + 1) + " reads \"0.0.0\" with no box",
                   dialog.Control(id), L"0.0.0");
    for (const VersionControl& control : kVersionControls)
        ExpectEnabled(results, std::string(control.name) + " is disabled with no box", dialog.Control(control.id), false);
    ExpectFixedParts(results, dialog);
    results.Info("dialog at " + RectText(RectOf(dialog.window)));
    shots.Take(results, "screenshot-no-box", RectOf(dialog.window));

    // The button is disabled, but the command can still arrive (a message from elsewhere, a
    // state that changed in between): with no box held the update must refuse, and say so.
    PostMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dialog.Control(IDC_UPDATE)));
    const HWND box = WaitForMessageBox(program, dialog, kStepTimeoutMs);
    if (!results.Check(box != nullptr, "a forced update shows a message box owned by the dialog",
                       "none within " + std::to_string(kStepTimeoutMs / 1000) + " s; " + Describe(TopLevelWindowsOf(program.Id()))))
        return;
    // Judged the moment the box is seen, in one reading: a dialog that takes clicks while the box
    // is up is a fault from the first moment on, and the readings below take their time.
    results.Check(IsWindowEnabled(dialog.window) == FALSE, "the dialog is disabled while the message box is up");
    ExpectCaption(results, "the message box caption is 40002 \"Update fehlgeschlagen!\"", box, Message(IDS_UPDATE_FAILED));
    ExpectMessageBoxText(results, "the message box says 40022 alone (the box is not available)", box, Message(IDS_BOX_GONE));

    const HWND ok = MessageBoxOkButton(box);
    if (!results.Check(ok != nullptr, "the message box has an OK button")) return;
    Click(ok);
    const bool closed = WaitUntil(kStepTimeoutMs, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
    if (!results.Check(closed, "OK closes the message box")) return;

    ExpectTextSoon(results, "after the failure the hint is 40030 (the update was cut short)", dialog.Control(IDC_INFO_TEXT),
                   Message(IDS_RETRY), kStepTimeoutMs);
    ExpectEnabled(results, "'Update' stays disabled after the failure", dialog.Control(IDC_UPDATE), false);
    ExpectText(results, "IDC_VALUE_FW2 still reads \"0.0.0\" after the failure", dialog.Control(IDC_VALUE_FW2), L"0.0.0");
    CloseWithBeenden(results, program, dialog);
}

// ---------------------------------------------------------------------------------------------
// escape and closebox

void Escape(Results& results, const std::wstring& path) {
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    // The key goes where the keyboard would send it: to the control with the focus, which the
    // dialog's message loop hands to IsDialogMessage; that turns Escape into IDCANCEL. The dialog
    // is visible a moment before it is activated and its first control given the focus (both
    // happen as it is shown), so the focus is waited for and then read until it holds still.
    const DWORD thread = GetWindowThreadProcessId(dialog.window, nullptr);
    const auto focusNow = [&](HWND* focus) {
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        if (GetGUIThreadInfo(thread, &gui) == FALSE) return false;
        *focus = gui.hwndFocus;
        return true;
    };
    const auto inDialog = [&](HWND focus) { return focus != nullptr && (focus == dialog.window || IsChild(dialog.window, focus)); };
    WaitUntil(kStepTimeoutMs, [&] {
        HWND focus = nullptr;
        return focusNow(&focus) && inDialog(focus);
    });
    const Steady<HWND> focused = ReadSteadily<HWND>(focusNow, [&] { return IsWindow(dialog.window) != FALSE; });
    const HWND focus = focused.steady ? focused.value : nullptr;
    results.Check(inDialog(focus), "a control of the dialog has the keyboard focus",
                  focused.steady ? "the focus is at " + Hex(focus) : std::string("the focus did not hold still"));
    const HWND target = focus != nullptr ? focus : dialog.window;
    results.Info("Escape goes to the window of class \"" + Visible(ClassOf(target)) + "\" with id " +
                 std::to_string(GetDlgCtrlID(target)));
    const UINT scan = MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, static_cast<LPARAM>(1 | scan << 16));
    PostMessageW(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(1 | scan << 16 | 0xC0000000u));
    ExpectExitZero(results, program);
}

void CloseBox(Results& results, const std::wstring& path) {
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;
    const LONG_PTR style = GetWindowLongPtrW(dialog.window, GWL_STYLE);
    results.Check((style & WS_SYSMENU) != 0, "the dialog has a close box (WS_SYSMENU)");
    PostMessageW(dialog.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectExitZero(results, program);
}

// ---------------------------------------------------------------------------------------------
// demo

void Demo(Results& results, const std::wstring& path, const Screenshots& shots) {
    Program program;
    Dialog dialog;
    if (!OpenDialog(results, program, path, &dialog)) return;

    ExpectText(results, "hint is the ready text 40000", dialog.Control(IDC_INFO_TEXT), Message(IDS_READY));
    const bool updateEnabled = ExpectEnabled(results, "'Update' is enabled with a box in bootloader mode", dialog.Control(IDC_UPDATE), true);
    ExpectText(results, "IDC_VALUE_FW1 reads the bootloader version \"1.2\"", dialog.Control(IDC_VALUE_FW1), L"1.2");
    ExpectText(results, "IDC_VALUE_FW2 reads the installed firmware \"1.10\"", dialog.Control(IDC_VALUE_FW2), L"1.10");
    ExpectText(results, "IDC_LABEL_FW2 reads \"VELTABOX\"", dialog.Control(IDC_LABEL_FW2), L"VELTABOX");
    for (const VersionControl& control : kVersionControls)
        ExpectEnabled(results, std::string(control.name) + " is enabled with a box", dialog.Control(control.id), true);
    ExpectFixedParts(results, dialog);
    if (!updateEnabled) {
        results.Skip("update", "the program is not ready for an update, so none is started");
        return;
    }
    // The simulated box takes each report at once; what the update may cost beyond its pauses is
    // little more than the pauses' own lateness, since the window work overlaps the box's time.
    const UpdateWatch watch = WatchUpdate(results, program, dialog, shots, "screenshot-demo-update");
    if (watch.succeeded < 0) return;
    ExpectEnabled(results, "'Update' is disabled after the update", dialog.Control(IDC_UPDATE), false);
    ExpectText(results, "IDC_VALUE_FW2 reads the new firmware \"1.11\"", dialog.Control(IDC_VALUE_FW2), L"1.11");
    ExpectText(results, "IDC_VALUE_FW1 still reads \"1.2\"", dialog.Control(IDC_VALUE_FW1), L"1.2");
    CloseWithBeenden(results, program, dialog);
}

int Usage() { return DriverUsage("e2e_driver", "nobox|escape|closebox|demo <program.exe>"); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DriverArguments args;
    if (!ReadDriverArguments(argc, argv, 0, &args)) return Usage();
    const std::wstring& scenario = args.scenario;
    const std::wstring& program = args.program;
    Results results(Utf8(scenario));
    const Screenshots shots(args.ackDirectory);
    // Each scenario's program is gone (ended or terminated) when it returns, so that the
    // summary is the last line.
    if (scenario == L"nobox") {
        NoBox(results, program, shots);
    } else if (scenario == L"escape") {
        Escape(results, program);
    } else if (scenario == L"closebox") {
        CloseBox(results, program);
    } else if (scenario == L"demo") {
        Demo(results, program, shots);
    } else {
        return Usage();
    }
    return results.Finish();
}
