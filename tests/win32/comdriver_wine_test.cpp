// The real Win32 serial driver, stepped by the end-to-end tests under Wine: one command a line on
// stdin, one answer line on stdout ("OK ..." or "ERR ..."). The far end of the port is a
// pseudo-terminal that the test holds.
//
//   variant configurator|loader   make a new driver of that variant (closing the old one's port)
//   open PORT SPEED FORMAT [KEYING]   COM_OPEN: OK result
//   write HEX | fill N            COM_WRITE of those bytes, or of N bytes i % 251: OK result
//   busy                          COM_BUSY: OK result
//   idle MS                       wait until COM_BUSY answers 0, at most MS: OK busy elapsed-ms
//   read                          COM_READ: OK count terminated hex (terminated: the byte behind is 0)
//   setlines B / modem / version  OK result [status | text-hex]
//   close                         COM_CLOSE: OK result elapsed-ms
//   call CODE                     any command code with *result preset to 77: OK return result
//   quit
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "serial/ComDriver.h"
#include "serial/SerialApi_win32.h"

namespace {

using namespace serial;

// Larger than a pty takes unread (about 22 kB), so that a peer that stops reading stalls a write.
ComWriteBlock<60000> g_block;
unsigned char g_readBuffer[COM_READ_BUFFER + 1024];

void Reply(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

std::string Hex(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// The session's current driver.
ComDriver* g_driver = nullptr;

int Call(uint32_t command, void* block) {
    int result = 0;
    if (g_driver) g_driver->ComDriverCall(command, &result, block);
    return result;
}

class Session {
  public:
    Session() { MakeDriver(ComVariant::Configurator); }

    void MakeDriver(ComVariant variant) {
        if (g_driver) Call(COM_CLOSE, nullptr);
        driver_.reset(new ComDriver(variant, api_));
        g_driver = driver_.get();
    }

    bool Run(char* line) {
        const char* verb = strtok(line, " ");
        const char* a = strtok(nullptr, " ");
        const char* b = strtok(nullptr, " ");
        const char* c = strtok(nullptr, " ");
        const char* d = strtok(nullptr, " ");
        if (!verb) {
            Reply("ERR empty");
        } else if (strcmp(verb, "quit") == 0) {
            Reply("OK");
            return false;
        } else if (strcmp(verb, "variant") == 0 && a) {
            MakeDriver(strcmp(a, "loader") == 0 ? ComVariant::Loader : ComVariant::Configurator);
            Reply("OK");
        } else if (strcmp(verb, "open") == 0 && a && b && c) {
            ComOpenBlock open;
            open.port = static_cast<uint16_t>(atoi(a));
            open.speed = static_cast<uint32_t>(strtoul(b, nullptr, 10));
            open.format = static_cast<uint16_t>(atoi(c));
            open.keying = static_cast<uint16_t>(d ? atoi(d) : 0);
            Reply("OK %d", Call(COM_OPEN, &open));
        } else if ((strcmp(verb, "write") == 0 || strcmp(verb, "fill") == 0) && (a || verb[0] == 'w')) {
            Write(verb[0] == 'f', a ? a : "");
        } else if (strcmp(verb, "busy") == 0) {
            Reply("OK %d", Call(COM_BUSY, nullptr));
        } else if (strcmp(verb, "idle") == 0 && a) {
            DWORD start = GetTickCount(), limit = strtoul(a, nullptr, 10);
            int busy;
            while ((busy = Call(COM_BUSY, nullptr)) != 0 && GetTickCount() - start < limit) Sleep(5);
            Reply("OK %d %lu", busy, GetTickCount() - start);
        } else if (strcmp(verb, "read") == 0) {
            memset(g_readBuffer, 0xAA, sizeof g_readBuffer);
            int count = Call(COM_READ, g_readBuffer);
            if (count < 0 || count > static_cast<int>(COM_READ_MAX))
                return Reply("ERR count %d", count), true;
            Reply("OK %d %d %s", count, g_readBuffer[count] == 0 ? 1 : 0, Hex(g_readBuffer, count).c_str());
        } else if (strcmp(verb, "setlines") == 0 && a) {
            uint8_t lines = static_cast<uint8_t>(atoi(a));
            Reply("OK %d", Call(COM_SETLINES, &lines));
        } else if (strcmp(verb, "modem") == 0) {
            uint32_t status = 0xFFFFFFFF;
            int result = Call(COM_MODEMSTATUS, &status);
            Reply("OK %d %lu", result, static_cast<unsigned long>(status));
        } else if (strcmp(verb, "version") == 0) {
            char text[64];
            memset(text, 0xAA, sizeof text);
            int result = Call(COM_VERSION, text);
            text[sizeof text - 1] = 0;
            Reply("OK %d %s", result, Hex(reinterpret_cast<unsigned char*>(text), strlen(text)).c_str());
        } else if (strcmp(verb, "close") == 0) {
            DWORD start = GetTickCount();
            int result = Call(COM_CLOSE, nullptr);
            Reply("OK %d %lu", result, GetTickCount() - start);
        } else if (strcmp(verb, "call") == 0 && a) {
            int result = 77;
            int returned = g_driver->ComDriverCall(static_cast<uint32_t>(atoi(a)), &result, nullptr);
            Reply("OK %d %d", returned, result);
        } else {
            Reply("ERR unknown command");
        }
        return true;
    }

  private:
    void Write(bool pattern, const char* arg) {
        // The block is the worker's until COM_BUSY answers 0: never refill it under a running write.
        if (Call(COM_BUSY, nullptr) != 0) return Reply("ERR busy");
        size_t length = 0;
        if (pattern) {
            length = strtoul(arg, nullptr, 10);
            if (length > sizeof g_block.data) return Reply("ERR too long");
            for (size_t i = 0; i < length; ++i) g_block.data[i] = static_cast<uint8_t>(i % 251);
        } else {
            length = strlen(arg) / 2;
            if (length > sizeof g_block.data) return Reply("ERR too long");
            for (size_t i = 0; i < length; ++i) {
                char pair[3] = {arg[2 * i], arg[2 * i + 1], 0};
                g_block.data[i] = static_cast<uint8_t>(strtoul(pair, nullptr, 16));
            }
        }
        g_block.length = static_cast<uint16_t>(length);
        Reply("OK %d", Call(COM_WRITE, &g_block));
    }

    Win32SerialApi api_;
    std::unique_ptr<ComDriver> driver_;
};

}  // namespace

int main() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    static Session session;
    static char line[2 * 60000 + 64];
    Reply("READY");
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!session.Run(line)) break;
    }
    Call(COM_CLOSE, nullptr);
    return 0;
}
