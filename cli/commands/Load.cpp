// krt42 load: a program file to each port's adapter, as the loader sends it.
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"
#include "loader/LoaderPort.h"
#include "tray/Digest.h"
#include "tray/Platform.h"

namespace cli {

namespace {

using namespace tray;

// The program's bytes for the history's hash; the load itself reads the file as the loader does.
std::string FileBytes(const std::string& path) {
    std::string bytes;
    if (std::FILE* file = OpenForReading(path)) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
        std::fclose(file);
    }
    return bytes;
}

int RunLoad(const Arguments& a) {
    PortRuns runs(a, "load", true);
    if (const int code = runs.Gather(true)) return code;
    if (a.rest.size() != 1) return Usage("load takes one FILE");
    const std::string& path = a.rest[0];
    int64_t size = 0;
    switch (KindOf(path, &size)) {
        case FileKind::Missing:
            return Usage(path + ": no such file");
        case FileKind::Directory:
            return Usage(path + " is a folder, not a file");
        case FileKind::Other:
            return Usage(path + " is not a regular file");
        case FileKind::Regular:
            break;
    }
    const std::string problem = ProgramProblem(path, size);
    if (!problem.empty()) return Usage(problem);
    const std::string program = CorePath(path);
    if (const int code = runs.Prepare()) return code;
    const std::string sha256 = a.history.empty() ? std::string() : Sha256Hex(FileBytes(path));
    LoadProgress progress(runs.Ports());
    return runs.Run(
        [&](PortRun& p, PortWork& work) -> int {
            LoadResult result;
            const Outcome loaded = work.Load(a.speed, program, a.maxRestarts, &result);
            JobRecord& r = p.record;
            r.speed = a.speed != 0 ? a.speed : loader::SpeedAt(loader::DEFAULT_SPEED_INDEX);
            r.fileName = path;
            r.fileSize = size;
            r.fileSha256 = sha256;
            if (loaded.exit == EXIT_PORT) return p.Fail(loaded.exit, loaded.message);
            if (loaded.exit == EXIT_USAGE) return p.Fail(EXIT_USAGE, loaded.message + " " + path);
            r.bytesSent = result.sent;
            r.restarts = result.restarts;
            progress.Update(p.index, result.sent, result.total, result.restarts, true);
            const bool stopped = loaded.exit >= EXIT_INTERRUPTED;
            char summary[160];
            std::snprintf(summary, sizeof summary, "%s, %d/%d bytes, %d restarts, %.1f s",
                          stopped                  ? "stopped"
                          : loaded.exit == EXIT_OK ? "done"
                                                   : "failed",
                          static_cast<int>(result.sent), static_cast<int>(result.total), result.restarts,
                          static_cast<double>(result.milliseconds) / 1000.0);
            // With several ports each says how far it came, also when Ctrl-C stopped them all.
            if (!p.prefix.empty()) Say(p.prefix + summary);
            r.result = summary;
            if (stopped) return loaded.exit;
            return loaded.exit == EXIT_OK ? int{EXIT_OK} : p.Fail(loaded.exit, loaded.message);
        },
        &progress);
}

}  // namespace

const Command LOAD_COMMAND = {"load",
                              "load a program file (1 to 32768 bytes)",
                              {{"--port", true},
                               {"--ports-from", false},
                               {"--speed", false},
                               {"--max-restarts", false},
                               {"--trace", false},
                               {"--history", false}},
                              "FILE",
                              RunLoad};

}  // namespace cli
