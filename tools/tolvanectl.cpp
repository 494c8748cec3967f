// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvanectl: scripted commissioning and link checks without a window (see docs/tolvanectl.md).

#include "tools/ctl.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A closed standard stream would hand its number to the next file or socket opened,
// which would then get the output: /dev/null holds the place. True when standard
// output was closed.
bool holdStandardStreams()
{
    bool outClosed = false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        outClosed = outClosed || fd == STDOUT_FILENO;
        const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    return outClosed;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool outClosed = holdStandardStreams();
    // A reader that has gone fails the write with EPIPE, which is reported, instead of
    // ending the process before it can say what it did.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    ctl::Outcome outcome;
    int code = ctl::Run(app.arguments().mid(1), out, err, isatty(STDERR_FILENO) == 1, &outcome);
    // A failed write leaves its reason in errno, whether it failed in the stream's flush
    // or in the final one.
    errno = 0;
    out.flush();
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout) && !outClosed;
    code = ctl::CheckOutput(code, written ? 0 : outClosed ? EBADF : errno != 0 ? errno : EIO, outcome, err);
    err.flush();
    return code;
}
