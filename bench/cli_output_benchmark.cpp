// The console demo as a production line runs it, with its standard output in a pipe: N simulated
// boxes at once (16 unless told) while the pipe's reader stalls for S seconds (20 unless told) after
// the first line, then reads on. The pipe holds a single page, so the program's output is held
// up from the first seconds on. Prints the demo's wall time against the one-box floor, its
// processor time and its peak memory; not a test.
//
//     cli_output_benchmark [BOXES [STALL_SECONDS]]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/update_floor.h"

extern char** environ;

int main(int argc, char** argv) {
    const int boxes = argc > 1 ? std::atoi(argv[1]) : 16;
    const int stall = argc > 2 ? std::atoi(argv[2]) : 20;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return 1;
    fcntl(out[1], F_SETPIPE_SZ, 4096);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string count = std::to_string(boxes);
    const char* const command[] = {VELTABOX_CLI_DEMO, "--boxes", count.c_str(), "update", "--all", "--no-history", nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t demo = 0;
    if (posix_spawn(&demo, VELTABOX_CLI_DEMO, &actions, nullptr, const_cast<char* const*>(command), environ) != 0) {
        std::perror("cli_output_benchmark: " VELTABOX_CLI_DEMO);
        return 1;
    }
    close(out[1]);
    std::string output;
    char buffer[4096];
    for (bool stalled = false;;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) break;
        output.append(buffer, static_cast<std::size_t>(got));
        if (!stalled && output.find('\n') != std::string::npos) {
            stalled = true;
            std::this_thread::sleep_for(std::chrono::seconds(stall));
        }
    }
    int status = 0;
    rusage used = {};
    wait4(demo, &status, 0, &used);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                       static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
    std::size_t succeeded = 0;
    for (std::size_t at = 0; (at = output.find("erfolgreich", at)) != std::string::npos; ++at) ++succeeded;
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && succeeded == static_cast<std::size_t>(boxes);
    std::printf("%d simulated boxes, output into a one-page pipe whose reader stalls %d s: %s (%zu succeeded)\n", boxes, stall,
                ok ? "updated" : "FAILED", succeeded);
    std::printf("wall time        %.3f s\n", wall);
    std::printf("pause floor      %.3f s (one box)\n", UPDATE_PAUSE_FLOOR_S);
    std::printf("wall / floor     %.4f (goal <= 1.02)\n", wall / UPDATE_PAUSE_FLOOR_S);
    std::printf("CPU time         %.3f s (%.2f %% of wall)\n", cpu, 100.0 * cpu / wall);
    std::printf("peak memory      %.1f MiB\n", static_cast<double>(used.ru_maxrss) / 1024.0);
    return ok ? 0 : 1;
}
