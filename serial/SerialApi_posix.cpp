#include "serial/SerialApi_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace serial {

namespace {

struct Port {
    int fd = -1;
    CommTimeouts timeouts;
    uint32_t eventMask = 0;
};

Port* PortOf(PortHandle handle) {
    return static_cast<Port*>(handle);
}

struct SpeedEntry {
    uint32_t rate;
    speed_t constant;
};

const SpeedEntry kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

void SetModemBit(int fd, int bit, bool on) {
    // A pseudo-terminal has no modem lines; the call fails there and that is fine.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

}  // namespace

std::string PosixSerialApi::DefaultPathOf(unsigned number) {
    if (number == 0) return std::string();
    char name[32];
    std::snprintf(name, sizeof name, "KRT_COM%u", number);
    if (const char* path = std::getenv(name)) {
        if (*path != '\0') return path;
    }
    std::snprintf(name, sizeof name, "/dev/ttyS%u", number - 1);
    return name;
}

PosixSerialApi::PosixSerialApi(PathOf pathOf) : pathOf_(std::move(pathOf)) {}

bool PosixSerialApi::SpeedConstant(uint32_t baudRate, unsigned* constant) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.rate == baudRate) {
            *constant = static_cast<unsigned>(e.constant);
            return true;
        }
    }
    return false;
}

uint32_t PosixSerialApi::BaudRateOf(unsigned constant) {
    for (const SpeedEntry& e : kSpeeds) {
        if (static_cast<unsigned>(e.constant) == constant) return e.rate;
    }
    return 0;
}

PortHandle PosixSerialApi::Open(unsigned number) {
    const std::string path = pathOf_ ? pathOf_(number) : std::string();
    if (path.empty()) return nullptr;
    // Non-blocking, so that a read never waits; writes wait for room themselves (see Write).
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Not a terminal, or held by another open: the port is for one user at a time.
        ::close(fd);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    if (discardInputOnOpen_) tcflush(fd, TCIFLUSH);
    Port* port = new Port;
    port->fd = fd;
    return port;
}

void PosixSerialApi::Close(PortHandle handle) {
    Port* port = PortOf(handle);
    if (port == nullptr) return;
    ioctl(port->fd, TIOCNXCL);
    // Output that an XOFF holds would keep close() waiting for the line to drain, up to half a
    // minute on a real device: what has not gone out by now is given up, as on Windows.
    if (outputFlowControl_) tcflush(port->fd, TCOFLUSH);
    ::close(port->fd);
    delete port;
}

bool PosixSerialApi::SetupQueues(PortHandle handle, uint32_t, uint32_t) {
    // The kernel's queues have a fixed size; there is nothing to ask for.
    return PortOf(handle) != nullptr;
}

bool PosixSerialApi::GetTimeouts(PortHandle handle, CommTimeouts* timeouts) {
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    *timeouts = port->timeouts;
    return true;
}

bool PosixSerialApi::SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) {
    // Reads never wait (non-blocking descriptor, VMIN = VTIME = 0) and writes have no time
    // limit, which is the only combination the driver asks for; the values are kept for Get.
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    port->timeouts = timeouts;
    return true;
}

bool PosixSerialApi::GetLineSettings(PortHandle handle, LineSettings* settings) {
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    termios tio;
    if (tcgetattr(port->fd, &tio) != 0) return false;
    settings->baudRate = BaudRateOf(static_cast<unsigned>(cfgetospeed(&tio)));
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            settings->byteSize = 5;
            break;
        case CS6:
            settings->byteSize = 6;
            break;
        case CS7:
            settings->byteSize = 7;
            break;
        default:
            settings->byteSize = 8;
            break;
    }
    if ((tio.c_cflag & PARENB) == 0) {
        settings->parity = Parity::None;
    } else {
        settings->parity = (tio.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
    }
    settings->stopBits = (tio.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
    settings->fParity = (tio.c_iflag & INPCK) != 0;
    settings->fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    settings->fOutxDsrFlow = false;
    settings->fDsrSensitivity = false;
    settings->fAbortOnError = false;
    int bits = 0;
    if (ioctl(port->fd, TIOCMGET, &bits) == 0) {
        settings->fDtrControl = (bits & TIOCM_DTR) != 0 ? LineControl::Enable : LineControl::Disable;
        settings->fRtsControl = (bits & TIOCM_RTS) != 0 ? LineControl::Enable : LineControl::Disable;
    } else {
        settings->fDtrControl = LineControl::Enable;
        settings->fRtsControl = LineControl::Enable;
    }
    return true;
}

void PosixSerialApi::ApplyLineSettings(termios& tio, const LineSettings& settings) {
    // A raw, 8-bit clean line. Software flow control goes too: the terminal defaults have
    // IXON on, which would swallow every 0x11 and 0x13 byte of a binary frame.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    // A rate the terminal layer does not know is refused: the port keeps its earlier speed.
    unsigned speed = 0;
    if (SpeedConstant(settings.baudRate, &speed)) {
        cfsetispeed(&tio, static_cast<speed_t>(speed));
        cfsetospeed(&tio, static_cast<speed_t>(speed));
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    switch (settings.byteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
    if (settings.parity == Parity::Even) tio.c_cflag |= PARENB;
    if (settings.parity == Parity::Odd) tio.c_cflag |= PARENB | PARODD;
    if (settings.stopBits == StopBits::One) {
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
        tio.c_cflag |= CSTOPB;
    }
    if (settings.fParity) {
        tio.c_iflag |= INPCK;
    } else {
        tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
    if (settings.fOutxCtsFlow) {
        tio.c_cflag |= CRTSCTS;
    } else {
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
}

void PosixSerialApi::ApplyOutputFlowControl(termios& tio, bool on) {
    // Only XON restarts the output (no IXANY), and this side never sends XOFF itself (no IXOFF).
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (!on) return;
    tio.c_iflag |= IXON;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
}

bool PosixSerialApi::SetLineSettings(PortHandle handle, const LineSettings& settings) {
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    termios tio;
    if (tcgetattr(port->fd, &tio) != 0) return false;
    ApplyLineSettings(tio, settings);
    ApplyOutputFlowControl(tio, outputFlowControl_);
    const bool ok = tcsetattr(port->fd, TCSANOW, &tio) == 0;
    SetModemBit(port->fd, TIOCM_DTR, settings.fDtrControl == LineControl::Enable);
    SetModemBit(port->fd, TIOCM_RTS, settings.fRtsControl == LineControl::Enable);
    return ok;
}

bool PosixSerialApi::SetEventMask(PortHandle handle, uint32_t mask) {
    // Nothing here waits for port events; the mask is only kept.
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    port->eventMask = mask;
    return true;
}

bool PosixSerialApi::Escape(PortHandle handle, EscapeFunction function) {
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    int bit = 0;
    switch (function) {
        case EscapeFunction::SetDtr:
            bit = TIOCM_DTR;
            return ioctl(port->fd, TIOCMBIS, &bit) == 0;
        case EscapeFunction::ClearDtr:
            bit = TIOCM_DTR;
            return ioctl(port->fd, TIOCMBIC, &bit) == 0;
        case EscapeFunction::SetRts:
            bit = TIOCM_RTS;
            return ioctl(port->fd, TIOCMBIS, &bit) == 0;
        case EscapeFunction::ClearRts:
            bit = TIOCM_RTS;
            return ioctl(port->fd, TIOCMBIC, &bit) == 0;
        case EscapeFunction::SetBreak:
            return ioctl(port->fd, TIOCSBRK) == 0;
        case EscapeFunction::ClearBreak:
            return ioctl(port->fd, TIOCCBRK) == 0;
    }
    return false;
}

bool PosixSerialApi::GetModemStatus(PortHandle handle, uint32_t* status) {
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    int bits = 0;
    if (ioctl(port->fd, TIOCMGET, &bits) != 0) return false;
    uint32_t s = 0;
    if ((bits & TIOCM_CTS) != 0) s |= ModemStatus::CtsOn;
    if ((bits & TIOCM_DSR) != 0) s |= ModemStatus::DsrOn;
    if ((bits & TIOCM_RNG) != 0) s |= ModemStatus::RingOn;
    if ((bits & TIOCM_CAR) != 0) s |= ModemStatus::RlsdOn;
    *status = s;
    return true;
}

bool PosixSerialApi::Read(PortHandle handle, uint8_t* buffer, uint32_t size, uint32_t* got) {
    *got = 0;
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    if (size == 0) return true;
    for (;;) {
        const ssize_t n = ::read(port->fd, buffer, size);
        if (n >= 0) {
            *got = static_cast<uint32_t>(n);
            return true;
        }
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;  // nothing has arrived
    }
}

bool PosixSerialApi::Write(PortHandle handle, const uint8_t* data, uint32_t size, uint32_t* written) {
    *written = 0;
    Port* port = PortOf(handle);
    if (port == nullptr) return false;
    // Writes have no time limit: wait for room until everything is taken. poll() is a
    // cancellation point, so a worker stuck here can still be ended from outside.
    uint32_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(port->fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            *written = done;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{port->fd, POLLOUT, 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
            if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p.revents & POLLOUT) == 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace serial
