// The receive path as the timer feeds it: bytes in chunks of at most 6140 through the assembler,
// the dispatch and the three answer handlers, into a real parameter table.
//
// Input: one byte k (taken mod 32), k piece lengths (each byte + 1), then the line's bytes. The
// bytes go through once in whole chunks and once with every chunk cut further into pieces of the
// given lengths (single bytes when k is 0). The assembler keeps its state between reads, so both
// must end with the same table and the same assembler state. Bytes that follow a good frame in
// the same read are not looked at, so after a good frame the rest of its whole chunk is skipped
// in the cut run as well.
#include <cstring>

#include "tests/fuzz/FuzzSupport.h"

namespace {

using adapter::AdapterLink;

struct Side {
    fuzz::QuietHost host;
    fuzz::CountingTable table;
    fuzz::NoPort noPort;
    AdapterLink link{host, &table, noPort.driver, noPort.selection};
};

Side& Whole() {
    static Side* side = new Side;
    return *side;
}

Side& Cut() {
    static Side* side = new Side;
    return *side;
}

// One read: the bytes land in RxChunk with the zero that the driver adds behind them.
int Read(AdapterLink& link, const uint8_t* bytes, int count) {
    std::memcpy(link.state.RxChunk, bytes, static_cast<size_t>(count));
    link.state.RxChunk[count] = 0;
    link.state.RxCount = count;
    return link.codec.ReceiveDleBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t pieceCount = data[0] % 32;
    if (size < 1 + pieceCount) return 0;
    const uint8_t* pieces = data + 1;
    const uint8_t* line = data + 1 + pieceCount;
    const int length = static_cast<int>(size - 1 - pieceCount);

    Side& whole = Whole();
    Side& cut = Cut();
    for (Side* side : {&whole, &cut}) {
        fuzz::ResetLink(side->link);
        side->table.Restore();
        side->host.calls = 0;
    }

    int goodWhole = 0, goodCut = 0;
    size_t nextPiece = 0;
    for (int at = 0; at < length; at += adapter::RX_TAKE_MAX) {
        const int chunk = length - at < adapter::RX_TAKE_MAX ? length - at : adapter::RX_TAKE_MAX;
        if (Read(whole.link, line + at, chunk) == 0) ++goodWhole;

        for (int done = 0; done < chunk;) {
            int piece = pieceCount == 0 ? 1 : pieces[nextPiece++ % pieceCount] + 1;
            if (piece > chunk - done) piece = chunk - done;
            const bool good = Read(cut.link, line + at + done, piece) == 0;
            done += piece;
            if (good) {
                ++goodCut;
                break;
            }
        }
    }

    fuzz::Check(goodWhole == goodCut, "whole and cut reads found different numbers of frames");
    fuzz::Check(whole.link.state.TailStage == cut.link.state.TailStage &&
                    whole.link.state.FramePos == cut.link.state.FramePos &&
                    whole.link.state.DlePending == cut.link.state.DlePending,
                "assembler state differs between whole and cut reads");
    fuzz::Check(std::memcmp(whole.link.state.FrameBuffer, cut.link.state.FrameBuffer,
                            sizeof whole.link.state.FrameBuffer) == 0,
                "frame buffer differs between whole and cut reads");
    fuzz::Check((whole.table.writes == 0) == (cut.table.writes == 0), "only one of the tables was written");
    for (Side* side : {&whole, &cut}) fuzz::CheckLinkUntouched(side->link, side->host);
    if (goodWhole == 0) {
        // Without a good frame no handler runs.
        fuzz::Check(whole.table.writes == 0, "table written without a good frame");
    }
    if (whole.table.writes != 0) {
        fuzz::Check(fuzz::SameTable(whole.table, cut.table), "table differs between whole and cut reads");
        fuzz::CheckTableShape(whole.table);
    }
    return 0;
}
