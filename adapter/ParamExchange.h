// The parameter read sequence, the answer handlers that fill the table, and the write of one
// edited row.
#pragma once

#include <cstdint>

#include "adapter/FrameCodec.h"
#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "adapter/ParamTable.h"

namespace adapter {

class ParamExchange : public FrameHandlers {
  public:
    ParamExchange(LinkState& state, FrameCodec& codec, LinkHost& host, ParamTable* table)
        : s_(state), codec_(codec), host_(host), table_(table) {}

    ParamTable* Table() { return table_; }
    void SetTable(ParamTable* table) { table_ = table; }

    // F5 or the read button: starts the six requests unless a read is running.
    void StartParameterRead();
    void RequestParameter(int step);
    // After an answer or a time-out: the next step of a running read, or none.
    void NextStep();

    int OnParamValue(int pos) override;
    int OnArrayValues(int pos) override;
    int OnWriteReply(int pos) override;

    // Builds and sends the write request of a row. False when the value cannot go out whole or
    // holds a byte that a frame cannot carry (the row is then marked Error and nothing is sent).
    bool WriteParameter(int row);
    // The in-place editor has ended on `row`: an accepted value is shown marked Pending, ends a
    // running read and is written; otherwise the row keeps `original`.
    void CommitEdit(int row, bool accepted, const char* edited, const char* original);

  private:
    LinkState& s_;
    FrameCodec& codec_;
    LinkHost& host_;
    ParamTable* table_;
};

}  // namespace adapter
