#include "platform/machcompat/Signals.h"

#include <signal.h>

namespace mach {
namespace {

struct Pair {
    int linux;
    int darwin;
};

const Pair kSignals[] = {
    {SIGHUP, 1},   {SIGINT, 2},     {SIGQUIT, 3},  {SIGILL, 4},    {SIGTRAP, 5},   {SIGABRT, 6},  {SIGBUS, 10},
    {SIGFPE, 8},   {SIGKILL, 9},    {SIGUSR1, 30}, {SIGSEGV, 11},  {SIGUSR2, 31},  {SIGPIPE, 13}, {SIGALRM, 14},
    {SIGTERM, 15}, {SIGCHLD, 20},   {SIGCONT, 19}, {SIGSTOP, 17},  {SIGTSTP, 18},  {SIGTTIN, 21}, {SIGTTOU, 22},
    {SIGURG, 16},  {SIGXCPU, 24},   {SIGXFSZ, 25}, {SIGVTALRM, 26}, {SIGPROF, 27}, {SIGWINCH, 28}, {SIGIO, 23},
    {SIGSYS, 12},
};

}  // namespace

int darwinSignalFromLinux(int linuxSignal) {
    for (const Pair& p : kSignals) {
        if (p.linux == linuxSignal) return p.darwin;
    }
    return 0;
}

int linuxSignalFromDarwin(int darwinSignal) {
    for (const Pair& p : kSignals) {
        if (p.darwin == darwinSignal) return p.linux;
    }
    return 0;
}

int darwinSignalCodeFromLinux(int linuxSignal, int code) {
    if (code <= 0) return 0;
    if (linuxSignal == SIGILL) {
        // Linux: ILLOPC 1, ILLOPN 2, ILLADR 3, ILLTRP 4, PRVOPC 5, PRVREG 6, COPROC 7, BADSTK 8.
        static const int map[] = {0, 1, 4, 5, 2, 3, 6, 7, 8};
        return code < 9 ? map[code] : code;
    }
    if (linuxSignal == SIGFPE) {
        // Linux: INTDIV 1, INTOVF 2, FLTDIV 3, FLTOVF 4, FLTUND 5, FLTRES 6, FLTINV 7, FLTSUB 8.
        static const int map[] = {0, 7, 8, 1, 2, 3, 4, 5, 6};
        return code < 9 ? map[code] : code;
    }
    return code;  // SEGV, BUS and TRAP codes agree
}

}  // namespace mach
