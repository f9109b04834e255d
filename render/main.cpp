// zarvelin-render: a session's sound as a WAV file, for another player or a closer look.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <vector>

#include "render/parallel_synth.h"
#include "render/progress.h"
#include "render/render_args.h"
#include "render/render_session.h"
#include "render/utf8_args.h"

namespace {

std::atomic<bool> gStop{false};

// Ctrl+C ends the render between chunks, so the temporary file is removed on the
// way out instead of left behind.
extern "C" void onStopSignal(int) { gStop.store(true); }

void complain(const std::string& message) { std::fprintf(stderr, "zarvelin-render: %s\n", message.c_str()); }

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = utf8Arguments(argc, argv);
    std::vector<const char*> words;
    for (const std::string& a : args)
        words.push_back(a.c_str());
    const ParseResult parsed = parseRenderArgs(static_cast<int>(words.size()), words.data());
    if (parsed.status == ParseStatus::Help) {
        std::fputs(renderUsage(), stdout);
        return 0;
    }
    if (parsed.status == ParseStatus::Error) {
        complain(parsed.error);
        return 2;
    }

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#ifdef SIGXFSZ
    // Past a file size limit the write should fail and be reported like any other,
    // not kill the process and leave the temporary file behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    Progress progress;
    progressBegin(progress, stderrIsTerminal());
    const RenderReport report = renderSession(parsed.args, renderThreadCount(), progress, gStop);
    progressEnd(progress);
    switch (report.outcome) {
    case RenderOutcome::Done: return 0;
    case RenderOutcome::BadTarget: complain(report.message); return 2;
    case RenderOutcome::Interrupted: complain(report.message); return 130;
    case RenderOutcome::WriteFailed:
    default: complain(report.message); return 1;
    }
}
