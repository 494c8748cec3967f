// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvanectl: scripted commissioning and link checks without a window (see docs/tolvanectl.md).

#include "tools/ctl.h"

#include <QCoreApplication>
#include <QIODevice>
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

// Standard output as a device that counts what it was handed, so that output that was
// lost is told apart from none (a usage error writes none, and loses none).
class StandardOutput : public QIODevice {
public:
    StandardOutput() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    qint64 handed = 0;

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        handed += size;
        return qint64(std::fwrite(data, 1, size_t(size), stdout)) == size ? size : -1;
    }
    qint64 readData(char*, qint64) override { return -1; }
};

}  // namespace

int main(int argc, char** argv)
{
    const bool outClosed = holdStandardStreams();
    // A reader that has gone fails the write with EPIPE, which is reported, instead of
    // ending the process before it can say what it did.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    StandardOutput device;
    QTextStream out(&device);
    QTextStream err(stderr);
    ctl::Outcome outcome;
    int code = ctl::Run(app.arguments().mid(1), out, err, isatty(STDERR_FILENO) == 1, &outcome);
    // A failed write leaves its reason in errno, whether it failed in the stream's flush
    // or in the final one.
    errno = 0;
    out.flush();
    const bool written = device.handed == 0 || (std::fflush(stdout) == 0 && !std::ferror(stdout) && !outClosed);
    code = ctl::CheckOutput(code, written ? 0 : outClosed ? EBADF : errno != 0 ? errno : EIO, outcome, err);
    err.flush();
    return code;
}
