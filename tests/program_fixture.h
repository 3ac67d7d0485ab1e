// Whole-program tests: the real logic against the simulated box and the recording window
// system. Each test starts with nothing attached, no window and no box held.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/globals.h"
#include "app/main_window.h"
#include "device/discovery.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_ui.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        simui::Reset();
        ResetDeviceRecord(g_device);
        g_hMainDlg = 0;
        g_hDevNotify = 0;
    }
    void TearDown() override {
        CloseDevice(g_device);
        EXPECT_EQ(sim::g_world.openHandles, 0) << "a device handle was not closed";
        EXPECT_EQ(sim::g_world.openLists, 0);
        EXPECT_EQ(simui::g_ui.unscriptedBoxes, 0) << "a message box appeared that the test did not expect";
    }

    // Starts the program and leaves its dialog up, as after the user has seen it appear.
    static void Start() { ASSERT_EQ(simui::RunProgramWithScript({}), 0); }

    static std::u16string Message(std::uint32_t id) {
        const char16_t* text = FindCatalogueText(id);
        return text == nullptr ? std::u16string(u"<missing>") : std::u16string(text);
    }
    static std::u16string WithInstructions(std::uint32_t id) { return Message(id) + u"\r\n\r\n" + Message(IDS_INSTRUCTIONS); }
    static std::u16string Hint() { return simui::Text(IDC_INFO_TEXT); }
    static sim::Box& Box(int index = 0) { return sim::g_world.boxes.at(static_cast<std::size_t>(index)); }
    static const std::u16string& PathOf(int box) {
        for (const sim::Interface& iface : sim::g_world.interfaces)
            if (iface.box == box) return iface.path;
        throw std::out_of_range("no such box");
    }
    static void Arrive(int box) { simui::Arrival(PathOf(box)); }
    static void PullOut(int box) {
        sim::PullOut(box);
        simui::DeliverPendingRemovals();
    }
};

// gtest prints UTF-16 strings as code units; this keeps failures readable for German text.
inline std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}
