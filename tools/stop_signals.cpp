#include "stop_signals.h"

#include <csignal>

namespace quarvel::cli {
namespace {

volatile std::sig_atomic_t received = 0;
struct sigaction previousInt;
struct sigaction previousTerm;

extern "C" void Note(int signal) { received = signal; }

}  // namespace

StopSignals::StopSignals() {
    received = 0;
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read it interrupts returns
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

int StopSignals::Received() noexcept { return received; }

const char* StopSignals::Name(int signal) noexcept {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a signal";
}

}  // namespace quarvel::cli
