#include "tray/Jobs.h"

#include "portselect/PortOpen.h"
#include "tray/Configuration.h"
#include "tray/Platform.h"

namespace tray {

namespace {

constexpr uint16_t kLoaderFormat8N1 = 8;

}  // namespace

Ticker::Ticker(const JobStop& stop) : stop_(stop), next_(NowMs()) {}

bool Ticker::Next() {
    next_ += TICK_MS;
    const int64_t now = NowMs();
    // A tick that is already a whole tick late is not made up for: the window's timer does not
    // queue missed ticks either.
    if (next_ < now - TICK_MS) next_ = now;
    SleepMs(static_cast<int>(next_ - now));
    return !stop_.Requested();
}

// ---- the configurator's link

void LinkJob::AnswerTable::NoteAdapterText(const char* text) {
    adapterText_ = text;
    adapterTextNoted_ = true;
}

void LinkJob::AnswerTable::SetText(int row, int column, const char* text) {
    if (column == adapter::COL_VALUE && row >= 0 && row < RowCount()) {
        const bool fromAdapter = adapterTextNoted_ && Mark(row) == adapter::MARK_BLANK;
        answered[row] = fromAdapter;
        bytes[row] = fromAdapter ? adapterText_ : std::string();
    }
    adapterTextNoted_ = false;
    ParameterTableModel::SetText(row, column, text);
}

void LinkJob::AnswerTable::ForgetAnswers() {
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        answered[row] = false;
        bytes[row].clear();
    }
}

LinkJob::LinkJob(serial::ComDriver& com, unsigned portNumber, const JobStop& stop)
    : com_(com), link_(*this, &table_, com, selection_), ticker_(stop) {
    link_.ResetForStart();
    link_.state.PortTable[0] = static_cast<int32_t>(portNumber);
    selection_.SelectedPortIndex = 0;
}

LinkJob::~LinkJob() {
    // Also ends a write worker that a stalled line holds.
    com_.Command(serial::COM_CLOSE, nullptr);
}

void LinkJob::PortOpenFailed(serial::ComResult) {
    portTrouble_ = true;
}

void LinkJob::ConvertOemText(char* text) {
    table_.NoteAdapterText(text);
    adapter::LinkHost::ConvertOemText(text);
}

void LinkJob::EnableReadButton(bool enable) {
    // The read button comes on with the first good frame: the connection.
    if (enable) connected_ = true;
}

bool LinkJob::Tick() {
    if (!ticker_.Next()) return false;
    link_.OnLinkTimer();
    while (!posted_.empty()) {
        const uint32_t message = posted_.front();
        posted_.pop_front();
        if (message == adapter::CM_SEARCH_FAILED) searchFailed_ = true;
        if (message == adapter::CM_NO_ANSWER) ++noAnswers_;
        link_.HandleLinkMessage(message);
    }
    if (afterTick) afterTick();
    return true;
}

Exit LinkJob::Find(int* speed) {
    connected_ = searchFailed_ = portTrouble_ = false;
    link_.StartAdapterSearch();
    // A port that goes away is no missing adapter: each step of the search reopens the port, and
    // a probe that cannot be written means the line is gone.
    while (!connected_ && !searchFailed_ && !portTrouble_ && !com_.LineFailed()) {
        if (!Tick()) return EXIT_INTERRUPTED;
    }
    if (portTrouble_ || com_.LineFailed()) return EXIT_PORT;
    if (!connected_) return EXIT_NO_ADAPTER;
    *speed = link_.state.LineSpeed;
    return EXIT_OK;
}

Exit LinkJob::OpenAt(int speed) {
    return link_.search.OpenPortAt(speed) == serial::COM_OK ? EXIT_OK : EXIT_PORT;
}

Exit LinkJob::Read() {
    noAnswers_ = 0;
    table_.ForgetAnswers();
    link_.StartParameterRead();
    while (link_.state.ParamIndex != -1) {
        if (!Tick()) return EXIT_INTERRUPTED;
        if (com_.LineFailed()) return EXIT_PORT;
    }
    // Any good frame moves the read on, whatever it answered: the rows tell what came back.
    return noAnswers_ == 0 && UnansweredRows() == 0 ? EXIT_OK : EXIT_NO_ANSWER;
}

int LinkJob::UnansweredRows() const {
    int count = 0;
    for (bool answered : table_.answered) count += answered ? 0 : 1;
    return count;
}

WriteResult LinkJob::Write(int row, const std::string& value) {
    WriteResult result;
    if (!RequestCarries(row, value)) {
        result.exit = EXIT_USAGE;
        return result;
    }
    const std::string original = table_.Text(row, adapter::COL_VALUE);
    link_.exchange.CommitEdit(row, true, value.c_str(), original.c_str());
    // The value fits, so an Error mark now means the request could not be queued behind the
    // ones the line still holds: nothing went out.
    if (table_.Mark(row) == adapter::MARK_ERROR) {
        result.exit = EXIT_NO_ANSWER;
        return result;
    }
    result.sent = true;
    for (int tick = 0; tick < adapter::ANSWER_TIMEOUT_TICKS && table_.Mark(row) == adapter::MARK_PENDING;
         ++tick) {
        if (!Tick()) {
            result.exit = EXIT_INTERRUPTED;
            return result;
        }
        if (com_.LineFailed()) {
            result.exit = EXIT_PORT;
            return result;
        }
    }
    if (table_.Mark(row) == adapter::MARK_PENDING) {
        result.exit = EXIT_NO_ANSWER;
    } else if (table_.Mark(row) == adapter::MARK_ERROR) {
        result.refusal = table_.Text(row, adapter::COL_VALUE);
        result.exit = EXIT_REFUSED;
    }
    return result;
}

RowResult LinkJob::Row(int row) const {
    RowResult r;
    r.parameter = table_.Text(row, adapter::COL_PARAMETER);
    r.index = table_.Text(row, adapter::COL_INDEX);
    r.value = table_.Text(row, adapter::COL_VALUE);
    r.unit = table_.Text(row, adapter::COL_UNITS);
    r.name = table_.Text(row, adapter::COL_NAME);
    r.bytes = table_.bytes[row];
    r.answered = table_.answered[row];
    return r;
}

// ---- the loader

LoadJob::LoadJob(serial::ComDriver& com, unsigned portNumber, const JobStop& stop)
    : com_(com), portNumber_(portNumber), procedure_(*this, image_, com), ticker_(stop) {
    procedure_.blockSize = loader::BLOCK_SIZE;
    procedure_.readEveryTick = true;
}

LoadJob::~LoadJob() {
    com_.Command(serial::COM_CLOSE, nullptr);
}

Exit LoadJob::Open(int speed) {
    portselect::PortTable table = {static_cast<int32_t>(portNumber_)};
    serial::ComOpenBlock block;
    const serial::ComResult result =
        portselect::OpenPortAtPosition(com_, table, 0, static_cast<uint32_t>(speed), kLoaderFormat8N1, block);
    if (result != serial::COM_OK) return EXIT_PORT;
    portselect::RaiseModemLines(com_);
    return EXIT_OK;
}

void LoadJob::SetStatusText(int pane, const char* text) {
    if (pane == 0) status0_ = text;
}

LoadResult LoadJob::Load(const std::string& path, int maxRestarts, std::string* error) {
    LoadResult result;
    const int64_t started = NowMs();
    const int restartsBefore = procedure_.RestartCount;
    status0_.clear();
    procedure_.StartStop(path.c_str());
    if (procedure_.state == loader::Idle) {
        *error = status0_;
        result.exit = EXIT_USAGE;
        return result;
    }
    while (procedure_.state != loader::Idle) {
        if (!ticker_.Next()) {
            result.exit = EXIT_INTERRUPTED;
            break;
        }
        procedure_.Tick();
        while (!posted_.empty()) {
            const uint32_t message = posted_.front();
            posted_.pop_front();
            procedure_.HandleMessage(message);
        }
        if (afterTick) afterTick();
        if (procedure_.RestartCount - restartsBefore > maxRestarts) {
            // The closing of the port drops whatever of the restart is still going out.
            result.exit = EXIT_FAILED;
            result.reason =
                "the adapter asked for more than " + std::to_string(maxRestarts) + " restarts; load stopped";
            break;
        }
    }
    result.total = procedure_.total;
    result.sent = procedure_.position;
    result.restarts = procedure_.RestartCount - restartsBefore;
    if (result.exit == EXIT_OK && procedure_.lineFailed) {
        result.exit = EXIT_FAILED;
        result.lineFailed = true;
        result.reason = "the line failed after " + std::to_string(result.sent) + " of " +
                        std::to_string(result.total) + " bytes";
    }
    if (result.exit == EXIT_OK) result.sent = result.total;
    result.milliseconds = NowMs() - started;
    return result;
}

}  // namespace tray
