#include "support/Recorder.h"

#include "data/cursor/Field.h"
#include "data/registry/DataModule.h"

namespace marvesa::test {

QString eventName(DataEvent e) {
    switch (e) {
        case deFieldChange:
            return QStringLiteral("deFieldChange");
        case deRecordChange:
            return QStringLiteral("deRecordChange");
        case deDataSetChange:
            return QStringLiteral("deDataSetChange");
        case deDataSetScroll:
            return QStringLiteral("deDataSetScroll");
        case deUpdateRecord:
            return QStringLiteral("deUpdateRecord");
        case deUpdateState:
            return QStringLiteral("deUpdateState");
        case deCheckBrowseMode:
            return QStringLiteral("deCheckBrowseMode");
    }
    return QStringLiteral("?");
}

Recorder::~Recorder() {
    for (auto& l : m_links) {
        l->source->removeLink(l.get());
        l->source->setOnStateChange(nullptr);
    }
}

void Recorder::listen(DataSource* source) {
    auto link = std::make_unique<Link>(this, source);
    source->addLink(link.get());
    m_links.push_back(std::move(link));
    source->setOnStateChange([this, source](DataSource* sender) {
        if (sender != source)
            ++wrongSenders;
        log << sender->name() + QStringLiteral(":StateChange(") + stateName(sender->state()) +
                   QLatin1Char(')');
    });
}

QStringList Recorder::of(const QString& source) const {
    QStringList r;
    for (const QString& e : log)
        if (e.startsWith(source + QLatin1Char(':')))
            r << e;
    return r;
}

QStringList Recorder::stateChanges() const {
    QStringList r;
    for (const QString& e : log)
        if (e.contains(QLatin1String(":StateChange(")))
            r << e;
    return r;
}

void Recorder::Link::dataEvent(DataEvent event, Field* field) {
    QString e = source->name() + QLatin1Char(':') + eventName(event);
    if (event == deUpdateState)
        e += QLatin1Char('(') + stateName(source->state()) + QLatin1Char(')');
    if (event == deFieldChange && field)
        e += QLatin1Char('(') + field->fieldName() + QLatin1Char(')');
    recorder->log << e;
    if (recorder->onEvent)
        recorder->onEvent(source->name(), event);
}

void listenToModule(Recorder& r, TdmMarvesa& dm) {
    r.listen(&dm.dsNUCLEO);
    r.listen(&dm.dsANAGRAFICA);
    dm.TBL_ANAGRAFICA.setMasterSource(&dm.dsNUCLEO, QStringLiteral("CODICE_NUCLEO"),
                                      QStringLiteral("CODICE_NUCLEO"));
}

}  // namespace marvesa::test
