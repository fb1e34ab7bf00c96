#pragma once

// A listener that records what the data sources announce.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "data/cursor/DataEvent.h"
#include "data/cursor/DataSource.h"

namespace marvesa {
class TdmMarvesa;
}

namespace marvesa::test {

// The event's name as the tests write it ("deFieldChange").
QString eventName(DataEvent e);

// Records what data sources announce, as "<source>:<event>", with the state
// for deUpdateState ("dsNUCLEO:deUpdateState(dsInsert)") and the column for
// deFieldChange ("dsANAGRAFICA:deFieldChange(COGNOME)"); the state-change
// handler adds "<source>:StateChange(<state>)" and checks its sender.
class Recorder {
public:
    QStringList log;
    int wrongSenders = 0;

    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void listen(DataSource* source);

    // The entries of one source.
    QStringList of(const QString& source) const;
    // Only the state-change handler calls.
    QStringList stateChanges() const;
    void clear() { log.clear(); }

    // Called for every event after it is logged: lets a test act as a bound
    // control would (write its unwritten text on deUpdateRecord).
    std::function<void(const QString& source, DataEvent)> onEvent;

private:
    struct Link : DataLink {
        Link(Recorder* r, DataSource* s) : recorder(r), source(s) {}
        void dataEvent(DataEvent event, Field* field) override;
        Recorder* recorder;
        DataSource* source;
    };
    std::vector<std::unique_ptr<Link>> m_links;
};

// Listens to the data module's family-unit and member sources. The member
// table's link to the family-unit source is attached again after the
// recorder, so that the log shows each announcement of TBL_NUCLEO before the
// member table's reaction to it.
void listenToModule(Recorder& r, TdmMarvesa& dm);

}  // namespace marvesa::test
