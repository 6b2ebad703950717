#include "stop_signals.h"

#include <csignal>

namespace quarvel::cli {
namespace {

volatile std::sig_atomic_t received = 0;
volatile std::sig_atomic_t reload = 0;
struct sigaction previousInt;
struct sigaction previousTerm;
struct sigaction previousHup;

extern "C" void Note(int signal) { received = signal; }
extern "C" void NoteReload(int) { reload = 1; }

}  // namespace

StopSignals::StopSignals(bool reloadOnHangup) {
    received = 0;
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read it interrupts returns
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    if (reloadOnHangup) {
        reload = 0;
        action.sa_handler = NoteReload;
        action.sa_flags = SA_RESTART;  // a reload waits for the frame in hand
    }
    sigaction(SIGHUP, &action, &previousHup);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGHUP, &previousHup, nullptr);
}

int StopSignals::Received() noexcept { return received; }

bool StopSignals::TakeReload() noexcept {
    if (reload == 0) {
        return false;
    }
    reload = 0;
    return true;
}

const char* StopSignals::Name(int signal) noexcept {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "a signal";
}

}  // namespace quarvel::cli
