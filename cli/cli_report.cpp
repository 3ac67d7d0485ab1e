#include "cli/cli_report.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "cli/cli_text.h"
#include "platform/console.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Phase { Found, Busy, Erasing, Writing, Done };

struct Line {
    BoxView box;
    Phase phase = Phase::Found;
    std::uint32_t percent = 0;
    std::uint32_t lastTenth = 0;  // the plain output's last tenth told
    Clock::time_point started;
    std::string result;  // the closing text
};

std::mutex g_lock;
ReportStyle g_style = ReportStyle::Plain;
std::vector<Line> g_lines;
std::size_t g_drawn = 0;  // live lines on the screen, to move back over

std::string Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc = *std::gmtime(&seconds);  // under g_lock: gmtime's buffer is shared
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds));
    return text;
}

std::string Name(const Line& line) { return line.box.model + " " + line.box.identity; }

void Event(const std::string& event, const Line* line, const std::string& fields) {
    std::string json = "{\"event\":" + JsonString(event) + ",\"time\":" + JsonString(Now());
    if (line != nullptr) json += ",\"box\":" + JsonString(line->box.identity);
    json += fields + "}\n";
    ConsoleWrite(ConsoleStream::Out, json);
}

// For people: standard output, or standard error next to JSON.
void Say(const std::string& text) { ConsoleWrite(g_style == ReportStyle::Json ? ConsoleStream::Err : ConsoleStream::Out, text); }

std::string Described(const BoxView& box) {
    if (box.mode == "bootloader") return "Bootloader Modus, Bootloader " + box.bootloader + ", Firmware " + box.firmware;
    return "Anwendungsmodus, Firmware " + box.firmware;
}

std::string LiveText(const Line& line) {
    char text[160];
    switch (line.phase) {
        case Phase::Found:
            return Name(line) + "  " + (line.box.mode.empty() ? "..." : Described(line.box));
        case Phase::Busy:
        case Phase::Done:
            return Name(line) + "  " + line.result;
        case Phase::Erasing:
            return Name(line) + "  [" + std::string(20, '.') + "]   0 %  L\xC3\xB6schen...";
        case Phase::Writing: {
            const double elapsed = std::chrono::duration<double>(Clock::now() - line.started).count();
            const double left = line.percent > 0 ? elapsed * (100 - line.percent) / line.percent : 0;
            const std::uint32_t filled = line.percent / 5;
            std::snprintf(text, sizeof text, "  [%s%s] %3u %%  noch %.0f s", std::string(filled, '#').c_str(),
                          std::string(20 - filled, '.').c_str(), static_cast<unsigned>(line.percent), left);
            return Name(line) + text;
        }
    }
    return Name(line);
}

// Back over the lines drawn before, then each line anew: the box lines stay where they are and
// anything said in between goes above them. A line that wrapped would take two rows where the
// cursor goes back one, so each is cut short of the terminal's width (the last column too, since
// some terminals wrap as soon as it is filled).
void Redraw() {
    std::string screen;
    if (g_drawn > 0) screen += "\x1b[" + std::to_string(g_drawn) + "A";
    const int columns = ConsoleColumns();
    for (const Line& line : g_lines)
        screen += "\r\x1b[2K" + FitToColumns(LiveText(line), columns > 1 ? columns - 1 : 0) + "\n";
    g_drawn = g_lines.size();
    ConsoleWrite(ConsoleStream::Out, screen);
}

void Plain(const Line& line, const std::string& text) { Say(Name(line) + ": " + text + "\n"); }

void Changed(const Line& line, const std::string& plainText) {
    if (g_style == ReportStyle::Live) return Redraw();
    if (!plainText.empty()) Plain(line, plainText);
}

}  // namespace

void ReportBegin(ReportStyle style) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_style = style;
    g_lines.clear();
    g_drawn = 0;
    if (style == ReportStyle::Json) Event("start", nullptr, ",\"schema\":1,\"image\":" + JsonString("1.11"));
}

int ReportFound(const BoxView& box) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line line;
    line.box = box;
    g_lines.push_back(line);
    const Line& added = g_lines.back();
    if (g_style == ReportStyle::Json) {
        std::string fields = ",\"node\":" + JsonString(box.node) + ",\"model\":" + JsonString(box.model);
        if (!box.mode.empty()) fields += ",\"mode\":" + JsonString(box.mode) + ",\"firmware\":" + JsonString(box.firmware);
        if (!box.bootloader.empty()) fields += ",\"bootloader\":" + JsonString(box.bootloader);
        Event("found", &added, fields);
    }
    Changed(added, box.mode.empty() ? std::string() : box.node + ", " + Described(box));
    return static_cast<int>(g_lines.size() - 1);
}

void ReportBusy(int box, const std::string& text) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line& line = g_lines.at(static_cast<std::size_t>(box));
    line.phase = Phase::Busy;
    line.result = text;
    if (g_style == ReportStyle::Json) Event("busy", &line, ",\"text\":" + JsonString(text));
    Changed(line, text);
}

void ReportStarted(int box) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line& line = g_lines.at(static_cast<std::size_t>(box));
    line.phase = Phase::Erasing;
    line.started = Clock::now();
    if (g_style == ReportStyle::Json) Event("started", &line, "");
    Changed(line, "Update begonnen");
}

void ReportProgress(int box, std::uint32_t percent) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line& line = g_lines.at(static_cast<std::size_t>(box));
    if (line.phase == Phase::Erasing) line.phase = Phase::Writing;
    if (percent == line.percent) return;
    line.percent = percent;
    if (percent / 10 == line.lastTenth) return;  // the live lines move on with the ticks
    line.lastTenth = percent / 10;
    if (g_style == ReportStyle::Json) Event("progress", &line, ",\"percent\":" + std::to_string(percent));
    if (g_style == ReportStyle::Plain) Plain(line, std::to_string(percent) + " %");
}

void ReportSucceeded(int box, const std::string& text) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line& line = g_lines.at(static_cast<std::size_t>(box));
    line.phase = Phase::Done;
    line.result = text;
    if (g_style == ReportStyle::Json) Event("succeeded", &line, ",\"text\":" + JsonString(text));
    Changed(line, text);
}

void ReportFailed(int box, const std::string& text, std::int32_t code, std::uint32_t lastError) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line& line = g_lines.at(static_cast<std::size_t>(box));
    line.phase = Phase::Done;
    line.result = code == -1 ? text : text + " " + CodeLine(code, lastError);
    if (g_style == ReportStyle::Json) {
        std::string fields = ",\"text\":" + JsonString(text);
        if (code != -1) fields += ",\"code\":" + std::to_string(code) + ",\"system_error\":" + std::to_string(lastError) +
                                  ",\"code_line\":" + JsonString(CodeLine(code, lastError));
        Event("failed", &line, fields);
    }
    Changed(line, line.result);
}

void ReportSkipped(int box, const std::string& text) {
    std::lock_guard<std::mutex> hold(g_lock);
    Line& line = g_lines.at(static_cast<std::size_t>(box));
    line.phase = Phase::Done;
    line.result = text;
    if (g_style == ReportStyle::Json) Event("skipped", &line, ",\"text\":" + JsonString(text));
    Changed(line, text);
}

void ReportNote(const std::string& text) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_style != ReportStyle::Live) return Say(text + "\n");
    // Above the box lines, which are drawn again below it.
    std::string screen = g_drawn > 0 ? "\x1b[" + std::to_string(g_drawn) + "A\r\x1b[J" : std::string();
    ConsoleWrite(ConsoleStream::Out, screen + text + "\n");
    g_drawn = 0;
    Redraw();
}

void ReportTick() {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_style == ReportStyle::Live && !g_lines.empty()) Redraw();
}

void ReportSummary(const std::string& text, int exitCode, std::uint32_t updated, std::uint32_t failed, std::uint32_t skipped,
                   std::uint32_t busy, std::uint32_t notStarted) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_style == ReportStyle::Live && !g_lines.empty()) Redraw();
    if (g_style == ReportStyle::Json)
        Event("summary", nullptr, ",\"updated\":" + std::to_string(updated) + ",\"failed\":" + std::to_string(failed) +
                                      ",\"skipped\":" + std::to_string(skipped) + ",\"busy\":" + std::to_string(busy) +
                                      ",\"not_started\":" + std::to_string(notStarted) + ",\"exit_code\":" +
                                      std::to_string(exitCode) + ",\"text\":" + JsonString(text));
    Say(text + "\n");
}
