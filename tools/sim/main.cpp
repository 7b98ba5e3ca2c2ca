// tavix-sim: a network video recorder on loopback for the Tavix client. See --help.
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>

#include <cstdio>
#include <string>
#include <thread>

#include "tools/sim/file_media_source.h"
#include "tools/sim/json_line.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_server.h"

using namespace tavix::sim;

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tavix-sim: %s\nTry 'tavix-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimHelp().c_str(), stdout);
        return 0;
    }
    for (const auto& [channel, path] : options.media) {
        FileMediaSource probe(path);
        if (!probe.IsOpen() || probe.Next(1).empty()) {
            std::fprintf(stderr, "tavix-sim: cannot read media file %s\n", path.c_str());
            return 2;
        }
    }

    // Writes to a client or to a reader of our output that has gone fail instead of killing
    // us. SIGINT and SIGTERM are taken by one thread only, which stops the server.
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // The parent's end is then a SIGTERM like any other.
    if (options.exitWithParent && prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
        std::perror("tavix-sim: --exit-with-parent");
        return 1;
    }

    SimServer server(options);
    if (!server.Listen()) {
        std::fprintf(stderr, "tavix-sim: cannot listen on %s:%d\n", options.bind.c_str(),
                     options.port);
        return 1;
    }
    JsonLine("event", "listening")
        .Text("address", options.bind)
        .Number("port", server.Port())
        .Print();

    std::thread signals([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.Stop();
    });
    server.Run();
    // Run also ends when accepting fails; the signal thread must then be woken by hand.
    pthread_kill(signals.native_handle(), SIGTERM);
    signals.join();
    JsonLine("event", "stopped").Print();
    return 0;
}
