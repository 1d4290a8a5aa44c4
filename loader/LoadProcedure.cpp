#include "loader/LoadProcedure.h"

#include <cstdio>
#include <cstring>

namespace loader {

namespace {

constexpr uint8_t kPlus = 0x2B;
constexpr int kStartSequence = 2;
constexpr int kRestartSequence = 8;

const char kStartTooltip[] = " Загрузка программы в KRT42 ";
const char kStopTooltip[] = " Остановить загрузку ";

}  // namespace

LoadProcedure::LoadProcedure(LoaderHost& host, ProgramImage& image, serial::ComDriver& com)
    : host_(host), image_(image), com_(com) {}

int LoadProcedure::ChannelBusy() {
    int busy = 0;
    com_.ComDriverCall(serial::COM_BUSY, &busy, nullptr);
    return busy;
}

void LoadProcedure::Write() {
    com_.Command(serial::COM_WRITE, &sendBlock);
}

void LoadProcedure::StartStop(const char* path) {
    // The existence test comes first in every state: pressing stop on a deleted file only
    // reports it, and the load goes on.
    if (!FileExists(path)) {
        host_.SetStatusText(0, "Ошибка: отсутствует данный файл.");
        return;
    }
    if (state == Idle) {
        if (!image_.Open(path)) {
            host_.SetStatusText(0, "Ошибка открытия файла.");
            return;
        }
        lineFailed = false;
        total = remaining = image_.Length();
        position = 0;
        blockSize = BLOCK_SIZE;
        SendSequence(kStartSequence);
        host_.EnableChooseButton(false);
        host_.SetBarPos(0);
        host_.SetStartTooltip(kStopTooltip);
        image_.ReadAndClose();
        host_.ShowStopIcon(true);
        lastPercent = -1;
        state = Ready;
        return;
    }
    Stop();
}

void LoadProcedure::Stop() {
    state = Idle;
    // Nothing goes to the adapter on a stop; a sequence still waiting for the line is dropped.
    dueFirst_ = dueCount_ = 0;
    host_.SetStartTooltip(kStartTooltip);
    host_.SetBarPos(0);
    char text[64];
    std::snprintf(text, sizeof text, "Процесс загрузки %d%%", 0);
    host_.SetBarText(text);
    host_.ShowStopIcon(false);
    host_.EnableChooseButton(true);
}

void LoadProcedure::SendSequence(int length) {
    // sendBlock belongs to the write worker until COM_BUSY answers 0: a sequence that falls due
    // while a block is still going out waits for the next tick that finds the line free.
    if (dueCount_ == 0 && ChannelBusy() == 0) {
        std::memset(sendBlock.data, kPlus, static_cast<size_t>(length));
        sendBlock.length = static_cast<uint16_t>(length);
        Write();
        return;
    }
    if (dueCount_ < kDueMax) {
        due_[(dueFirst_ + dueCount_) % kDueMax] = static_cast<uint8_t>(length);
        ++dueCount_;
    }
}

void LoadProcedure::Tick() {
    // Asked after COM_BUSY: a worker that has given up has said so before it ended, so a free
    // line is never taken for a write that went out. The flag speaks of the write last started
    // (the next COM_WRITE clears it), and every write of a load comes after a tick that found
    // the one before free and not failed, but for a restart's sequence: that one sends the
    // image anew from its start, so a block that failed before it is sent again anyway. A start
    // clears in the same way what a failed load before it left.
    int busy = ChannelBusy();
    if (state != Idle && com_.LineFailed()) {
        // A dead line takes no further byte: going on would run the bar up to 100 % over
        // writes that all failed.
        Stop();
        lineFailed = true;
        host_.SetStatusText(1, " Нет подключения к COM-порту");
        return;
    }
    if (dueCount_ != 0) {
        if (busy == 0) {
            int length = due_[dueFirst_];
            dueFirst_ = (dueFirst_ + 1) % kDueMax;
            --dueCount_;
            std::memset(sendBlock.data, kPlus, static_cast<size_t>(length));
            sendBlock.length = static_cast<uint16_t>(length);
            Write();
            return;
        }
    } else if (busy == 0 && state == Ready) {
        // A line that takes every write at once is never found busy, so without this read an
        // 'R' would wait in the channel until the load had ended.
        if (readEveryTick && rxPending == 0 && TakeInput()) return;
        state = Pending;
        host_.PostLoaderMessage(remaining != 0 ? LM_SEND_BLOCK : LM_FINISHED);
        return;
    }
    // Only reached while a write is still going out.
    if (state == Ready && rxPending == 0) TakeInput();
}

bool LoadProcedure::TakeInput() {
    int n = 0;
    com_.ComDriverCall(serial::COM_READ, &n, rxChunk);
    if (n <= 0) return false;
    rxCount = n > RX_COUNT_MAX ? RX_COUNT_MAX : n;
    rxPending = 1;
    state = Pending;
    host_.PostLoaderMessage(LM_RECEIVED);
    return true;
}

bool LoadProcedure::HandleMessage(uint32_t message) {
    switch (message) {
        case LM_RECEIVED:
            OnReceived();
            return true;
        case LM_SEND_BLOCK:
            OnSendBlock();
            return true;
        case LM_FINISHED:
            OnFinished();
            return true;
        default:
            return false;
    }
}

void LoadProcedure::OnSendBlock() {
    if (state != Pending || remaining == 0) return;
    int32_t chunk = blockSize;
    remaining -= blockSize;
    if (remaining <= 0) {
        chunk = remaining + blockSize;
        remaining = 0;
    }
    // The label shows the share sent before this block, rounded half up.
    long labelPercent = static_cast<long>(position * 100.0 / total + 0.5);
    char text[64];
    std::snprintf(text, sizeof text, "Процесс ... %3ld%c", labelPercent, '%');
    host_.SetLabelText(text);

    std::memcpy(sendBlock.data, image_.Data() + position, static_cast<size_t>(chunk));
    sendBlock.length = static_cast<uint16_t>(chunk);
    position += chunk;
    Write();

    // The bar shows the share after this block, truncated.
    int barPercent = static_cast<int>(static_cast<double>(position) / total * 100.0);
    if (barPercent != lastPercent) {
        std::snprintf(text, sizeof text, "Процесс загрузки %d%%", barPercent);
        host_.SetBarText(text);
        host_.SetBarPos(barPercent);
        lastPercent = barPercent;
    }
    state = Ready;
}

void LoadProcedure::OnFinished() {
    host_.EnableChooseButton(true);
    state = Idle;
    host_.SetStartTooltip(kStartTooltip);
    host_.SetBarPos(100);
    char text[64];
    std::snprintf(text, sizeof text, "Загрузка программы закончена 100%%");
    host_.SetBarText(text);
    host_.ShowStopIcon(false);
}

void LoadProcedure::OnReceived() {
    if (state == Pending) {
        bool restarted = false;
        for (int32_t i = 0; i < rxCount; ++i) {
            if (rxChunk[i] == RESTART_BYTE) {
                Restart();
                restarted = true;
            }
        }
        // Bytes without any 'R' must not leave the load standing still: the token goes back.
        if (!restarted) state = Ready;
    }
    rxCount = 0;
    rxPending = 0;
}

void LoadProcedure::Restart() {
    ++RestartCount;
    char text[32];
    std::snprintf(text, sizeof text, " R%d ", RestartCount);
    host_.SetStatusText(0, text);
    SendSequence(kRestartSequence);
    host_.SetBarPos(0);
    position = 0;
    remaining = total;
    lastPercent = -1;
    blockSize = BLOCK_SIZE;
    state = Ready;
}

}  // namespace loader
