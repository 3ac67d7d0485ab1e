#include "cli/cli_report.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/cli_text.h"
#include "platform/console.h"

namespace {

using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

enum class Phase { Found, Busy, Erasing, Writing, Done };

enum class Kind { Found, Answered, Busy, Started, Progress, Succeeded, Failed, Skipped, Confirmed, Unconfirmed, Note, Tick, Summary };

// One event on its way to the writer, stamped when it happened rather than when it is written.
struct Event {
    Kind kind;
    int box;
    WallClock::time_point time;
    BoxView view;
    std::string text;
    std::int32_t code;
    std::uint32_t lastError;
    ReportTotals totals;
};

// The writer's own record of a box's line.
struct Line {
    BoxView box;
    Phase phase = Phase::Found;
    std::uint32_t percent = 0;
    std::uint32_t lastTenth = 0;  // the plain output's last tenth told
    Clock::time_point started;
    std::string result;  // the closing text
};

// What the boxes' threads and the writer share, under `lock`. A box's progress is kept as its
// latest percent with at most one event queued for it, which is how a writer that falls behind
// folds a run of them into one.
struct Shared {
    std::deque<Event> queue;
    std::vector<std::uint32_t> latestPercent;
    std::vector<bool> progressQueued;
    bool tickQueued = false;
    bool ending = false;
    int boxes = 0;
};

}  // namespace

struct Reporter {
    ReportStyle style;
    std::mutex lock;
    std::condition_variable wake;
    Shared shared;
    // The writer's alone.
    std::vector<Line> lines;
    std::size_t drawn = 0;  // live lines on the screen, to move back over
    std::thread writer;
};

namespace {

std::string TimeText(WallClock::time_point when) {
    const std::time_t seconds = WallClock::to_time_t(when);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm utc = *std::gmtime(&seconds);  // the writer thread alone calls it: its buffer is shared
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds));
    return text;
}

std::string Name(const Line& line) { return BoxName(line.box); }

void Json(const std::string& event, const Event& from, const Line* line, const std::string& fields) {
    std::string json = "{\"event\":" + JsonString(event) + ",\"time\":" + JsonString(TimeText(from.time));
    if (line != nullptr) {
        json += ",\"box\":" + JsonString(line->box.identity);
        if (!line->box.serial.empty()) json += ",\"serial\":" + JsonString(line->box.serial);
    }
    ConsoleWrite(ConsoleStream::Out, json + fields + "}\n");
}

// For people: standard output, or standard error next to JSON.
void Say(const Reporter& reporter, const std::string& text) {
    ConsoleWrite(reporter.style == ReportStyle::Json ? ConsoleStream::Err : ConsoleStream::Out, text);
}

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
void Redraw(Reporter& reporter) {
    std::string screen;
    if (reporter.drawn > 0) screen += "\x1b[" + std::to_string(reporter.drawn) + "A";
    const int columns = ConsoleColumns();
    for (const Line& line : reporter.lines)
        screen += "\r\x1b[2K" + FitToColumns(LiveText(line), columns > 1 ? columns - 1 : 0) + "\n";
    reporter.drawn = reporter.lines.size();
    ConsoleWrite(ConsoleStream::Out, screen);
}

void Changed(Reporter& reporter, const Line& line, const std::string& plainText) {
    if (reporter.style == ReportStyle::Live) return Redraw(reporter);
    if (!plainText.empty()) Say(reporter, Name(line) + ": " + plainText + "\n");
}

void Done(Reporter& reporter, const Event& event, const char* name, const std::string& result, const std::string& fields) {
    Line& line = reporter.lines.at(static_cast<std::size_t>(event.box));
    line.phase = Phase::Done;
    line.result = result;
    if (reporter.style == ReportStyle::Json) Json(name, event, &line, fields);
    Changed(reporter, line, result);
}

std::string Count(const char* name, std::uint32_t value) { return ",\"" + std::string(name) + "\":" + std::to_string(value); }

void Write(Reporter& reporter, const Event& event, std::uint32_t percent) {
    const bool json = reporter.style == ReportStyle::Json;
    Line* line = event.box >= 0 && static_cast<std::size_t>(event.box) < reporter.lines.size()
                     ? &reporter.lines[static_cast<std::size_t>(event.box)]
                     : nullptr;
    switch (event.kind) {
        case Kind::Found:
        case Kind::Answered: {
            if (event.kind == Kind::Found) reporter.lines.push_back(Line());
            Line& added = event.kind == Kind::Found ? reporter.lines.back() : *line;
            added.box = event.view;
            added.phase = Phase::Found;
            const BoxView& box = event.view;
            if (json) {
                std::string fields = ",\"node\":" + JsonString(box.node) + ",\"model\":" + JsonString(box.model);
                if (!box.mode.empty()) fields += ",\"mode\":" + JsonString(box.mode) + ",\"firmware\":" + JsonString(box.firmware);
                if (!box.bootloader.empty()) fields += ",\"bootloader\":" + JsonString(box.bootloader);
                Json("found", event, &added, fields);
            }
            return Changed(reporter, added, box.mode.empty() ? std::string() : box.node + ", " + Described(box));
        }
        case Kind::Busy:
            line->phase = Phase::Busy;
            line->result = event.text;
            if (json) Json("busy", event, line, ",\"text\":" + JsonString(event.text));
            return Changed(reporter, *line, event.text);
        case Kind::Started:
            line->phase = Phase::Erasing;
            line->started = Clock::now();
            line->percent = 0;
            line->lastTenth = 0;
            if (json) Json("started", event, line, "");
            return Changed(reporter, *line, "Update begonnen");
        case Kind::Progress:
            if (line->phase == Phase::Erasing) line->phase = Phase::Writing;
            if (percent == line->percent) return;
            line->percent = percent;
            if (percent / 10 == line->lastTenth) return;  // the live lines move on with the ticks
            line->lastTenth = percent / 10;
            if (json) Json("progress", event, line, ",\"percent\":" + std::to_string(percent));
            if (reporter.style == ReportStyle::Plain) Say(reporter, Name(*line) + ": " + std::to_string(percent) + " %\n");
            return;
        case Kind::Succeeded:
            return Done(reporter, event, "succeeded", event.text, ",\"text\":" + JsonString(event.text));
        case Kind::Failed: {
            const bool coded = event.code != -1;
            std::string fields = ",\"text\":" + JsonString(event.text);
            if (coded)
                fields += ",\"code\":" + std::to_string(event.code) + ",\"system_error\":" + std::to_string(event.lastError) +
                          ",\"code_line\":" + JsonString(CodeLine(event.code, event.lastError));
            return Done(reporter, event, "failed", coded ? event.text + " " + CodeLine(event.code, event.lastError) : event.text,
                        fields);
        }
        case Kind::Skipped:
            return Done(reporter, event, "skipped", event.text, ",\"text\":" + JsonString(event.text));
        case Kind::Confirmed:
            return Done(reporter, event, "confirmed", event.text, ",\"text\":" + JsonString(event.text));
        case Kind::Unconfirmed:
            return Done(reporter, event, "unconfirmed", event.text, ",\"text\":" + JsonString(event.text));
        case Kind::Note:
            if (reporter.style != ReportStyle::Live) return Say(reporter, event.text + "\n");
            // Above the box lines, which are drawn again below it.
            ConsoleWrite(ConsoleStream::Out, (reporter.drawn > 0 ? "\x1b[" + std::to_string(reporter.drawn) + "A\r\x1b[J" : std::string()) +
                                                 event.text + "\n");
            reporter.drawn = 0;
            return Redraw(reporter);
        case Kind::Tick:
            if (reporter.style == ReportStyle::Live && !reporter.lines.empty()) Redraw(reporter);
            return;
        case Kind::Summary: {
            const ReportTotals& totals = event.totals;
            if (reporter.style == ReportStyle::Live && !reporter.lines.empty()) Redraw(reporter);
            if (json) {
                std::string fields = Count("updated", totals.updated) + Count("failed", totals.failed) +
                                     Count("skipped", totals.skipped) + Count("busy", totals.busy) +
                                     Count("not_started", totals.notStarted);
                if (totals.proving) fields += Count("confirmed", totals.confirmed) + Count("unconfirmed", totals.unconfirmed);
                Json("summary", event, nullptr,
                     fields + ",\"exit_code\":" + std::to_string(totals.exitCode) + ",\"text\":" + JsonString(totals.text));
            }
            return Say(reporter, totals.text + "\n");
        }
    }
}

// The writer: takes the events one by one and writes each with the lock let go, so that a
// stream that blocks holds up only itself.
void Serve(Reporter* reporter) {
    std::unique_lock<std::mutex> hold(reporter->lock);
    Shared& shared = reporter->shared;
    for (;;) {
        reporter->wake.wait(hold, [&] { return !shared.queue.empty() || shared.ending; });
        if (shared.queue.empty()) return;
        Event event = std::move(shared.queue.front());
        shared.queue.pop_front();
        std::uint32_t percent = 0;
        if (event.kind == Kind::Progress) {
            percent = shared.latestPercent[static_cast<std::size_t>(event.box)];
            shared.progressQueued[static_cast<std::size_t>(event.box)] = false;
        }
        if (event.kind == Kind::Tick) shared.tickQueued = false;
        hold.unlock();
        Write(*reporter, event, percent);
        hold.lock();
    }
}

void Hand(Reporter* reporter, Event event) {
    event.time = WallClock::now();
    {
        std::lock_guard<std::mutex> hold(reporter->lock);
        reporter->shared.queue.push_back(std::move(event));
    }
    reporter->wake.notify_one();
}

Event Of(Kind kind, int box, const std::string& text = std::string()) {
    Event event = {};
    event.kind = kind;
    event.box = box;
    event.text = text;
    event.code = -1;
    return event;
}

}  // namespace

std::string BoxName(const BoxView& box) {
    return box.model + " " + box.identity + (box.serial.empty() ? "" : " (" + box.serial + ")");
}

Reporter* ReportBegin(ReportStyle style, const std::string& imageVersion) {
    auto* reporter = new Reporter;
    reporter->style = style;
    reporter->writer = std::thread(Serve, reporter);
    if (style == ReportStyle::Json) {
        // Written here, before any box can be found: it is the first line whatever follows.
        Event start = Of(Kind::Note, -1);
        start.time = WallClock::now();
        Json("start", start, nullptr, ",\"schema\":1,\"image\":" + JsonString(imageVersion));
    }
    return reporter;
}

void ReportEnd(Reporter* reporter) {
    {
        std::lock_guard<std::mutex> hold(reporter->lock);
        reporter->shared.ending = true;
    }
    reporter->wake.notify_one();
    reporter->writer.join();
    delete reporter;
}

int ReportFound(Reporter* reporter, const BoxView& box) {
    Event event = Of(Kind::Found, 0);
    event.view = box;
    event.time = WallClock::now();
    int number;
    {
        std::lock_guard<std::mutex> hold(reporter->lock);
        Shared& shared = reporter->shared;
        number = shared.boxes++;
        shared.latestPercent.push_back(0);
        shared.progressQueued.push_back(false);
        event.box = number;
        shared.queue.push_back(std::move(event));
    }
    reporter->wake.notify_one();
    return number;
}

void ReportAnswered(Reporter* reporter, int box, const BoxView& view) {
    Event event = Of(Kind::Answered, box);
    event.view = view;
    Hand(reporter, std::move(event));
}

void ReportBusy(Reporter* reporter, int box, const std::string& text) { Hand(reporter, Of(Kind::Busy, box, text)); }
void ReportStarted(Reporter* reporter, int box) { Hand(reporter, Of(Kind::Started, box)); }

void ReportProgress(Reporter* reporter, int box, std::uint32_t percent) {
    {
        std::lock_guard<std::mutex> hold(reporter->lock);
        Shared& shared = reporter->shared;
        const auto at = static_cast<std::size_t>(box);
        if (shared.latestPercent.at(at) == percent && !shared.progressQueued[at]) return;
        shared.latestPercent[at] = percent;
        if (shared.progressQueued[at]) return;  // the event already queued will carry it
        shared.progressQueued[at] = true;
        Event event = Of(Kind::Progress, box);
        event.time = WallClock::now();
        shared.queue.push_back(std::move(event));
    }
    reporter->wake.notify_one();
}

void ReportSucceeded(Reporter* reporter, int box, const std::string& text) { Hand(reporter, Of(Kind::Succeeded, box, text)); }

void ReportFailed(Reporter* reporter, int box, const std::string& text, std::int32_t code, std::uint32_t lastError) {
    Event event = Of(Kind::Failed, box, text);
    event.code = code;
    event.lastError = lastError;
    Hand(reporter, std::move(event));
}

void ReportSkipped(Reporter* reporter, int box, const std::string& text) { Hand(reporter, Of(Kind::Skipped, box, text)); }
void ReportConfirmed(Reporter* reporter, int box, const std::string& text) { Hand(reporter, Of(Kind::Confirmed, box, text)); }
void ReportUnconfirmed(Reporter* reporter, int box, const std::string& text) { Hand(reporter, Of(Kind::Unconfirmed, box, text)); }
void ReportNote(Reporter* reporter, const std::string& text) { Hand(reporter, Of(Kind::Note, -1, text)); }

void ReportTick(Reporter* reporter) {
    {
        std::lock_guard<std::mutex> hold(reporter->lock);
        if (reporter->shared.tickQueued) return;
        reporter->shared.tickQueued = true;
    }
    Hand(reporter, Of(Kind::Tick, -1));
}

void ReportSummary(Reporter* reporter, const ReportTotals& totals) {
    Event event = Of(Kind::Summary, -1, totals.text);
    event.totals = totals;
    Hand(reporter, std::move(event));
}
