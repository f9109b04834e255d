// zarvelin-render: a session's sound as a WAV file, for another player or a closer look.
#include <atomic>
#include <cstdio>
#include <vector>

#include "render/session_frames.h"
#include "render/progress.h"
#include "render/render_args.h"
#include "render/render_session.h"
#include "render/stop_signals.h"
#include "render/terminal.h"
#include "render/utf8_args.h"

namespace {

std::atomic<bool> gStop{false};

void complain(const std::string& message) { std::fprintf(stderr, "zarvelin-render: %s\n", message.c_str()); }

int exitStatus(const RenderReport& report)
{
    switch (report.outcome) {
    case RenderOutcome::Done: return 0;
    case RenderOutcome::BadTarget: complain(report.message); return 2;
    case RenderOutcome::Interrupted: complain(report.message); return 130;
    case RenderOutcome::WriteFailed:
    default: complain(report.message); return 1;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = utf8Arguments(argc, argv);
    std::vector<const char*> words;
    for (const std::string& a : args)
        words.push_back(a.c_str());
    const ParseResult parsed = parseRenderArgs(static_cast<int>(words.size()), words.data());
    if (parsed.status == ParseStatus::Help) {
        std::fputs(renderUsage().c_str(), stdout);
        return 0;
    }
    if (parsed.status == ParseStatus::Error) {
        complain(parsed.error);
        return 2;
    }

    // From here on a request to stop ends the render between chunks, with the
    // temporary file removed on the way out.
    watchStopRequests(gStop);
    Progress progress;
    progressBegin(progress, stderrIsTerminal());
    const RenderReport report = renderSession(parsed.args, renderThreadCount(), progress, gStop);
    progressEnd(progress);
    const int status = exitStatus(report);
    stopRequestsAnswered();
    return status;
}
