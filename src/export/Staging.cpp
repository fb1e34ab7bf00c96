#include "export/Staging.h"

#include <QElapsedTimer>
#include <utility>

#include "data/DataModule.h"

namespace marvesa {

namespace {

// Lets the database commit without waiting for the disk while it lives;
// normal durability comes back with restore(), or at the latest when the
// guard goes out of scope.
class RelaxedDurability {
public:
    explicit RelaxedDurability(Engine& engine) : m_engine(&engine) {
        engine.setRelaxedDurability(true);
    }
    ~RelaxedDurability() {
        if (!m_engine)
            return;
        // Reached only while another error is on its way out: that error is
        // the one the operator must see, so a failure here cannot replace it.
        try {
            m_engine->setRelaxedDurability(false);
        } catch (...) {
        }
    }
    RelaxedDurability(const RelaxedDurability&) = delete;
    RelaxedDurability& operator=(const RelaxedDurability&) = delete;

    void restore() {
        if (Engine* engine = std::exchange(m_engine, nullptr))
            engine->setRelaxedDurability(false);
    }

private:
    Engine* m_engine;
};

const QString kCodiceNucleo = QStringLiteral("CODICE_NUCLEO");

}  // namespace

const std::array<StagedColumn, 16>& stagedColumns() {
    using S = StagingSource;
    static const std::array<StagedColumn, 16> columns{{
        {QStringLiteral("CODICE_NUCLEO"), S::FamilyUnit},
        {QStringLiteral("COGNOME"), S::Member},
        {QStringLiteral("NOME"), S::Member},
        {QStringLiteral("SESSO"), S::Member},
        {QStringLiteral("DATA_NASCITA"), S::Member},
        {QStringLiteral("NAZIONE_NASCITA"), S::Member},
        {QStringLiteral("CITTADINANZA"), S::Member},
        {QStringLiteral("GRADO_PARENTELA"), S::Member},
        {QStringLiteral("COMUNE"), S::FamilyUnit},
        {QStringLiteral("INDIRIZZO"), S::FamilyUnit},
        {QStringLiteral("NOME_OSPITANTE"), S::FamilyUnit},
        {QStringLiteral("TELEFONO"), S::FamilyUnit},
        {QStringLiteral("TERMINE_ALLOGGIO"), S::FamilyUnit},
        {QStringLiteral("DATA_INGRESSO"), S::Member},
        {QStringLiteral("FRONTIERA"), S::Member},
        {QStringLiteral("NOTE"), S::Member},
    }};
    return columns;
}

int stageExport(TdmMarvesa& dm, StagingTimings* timings) {
    DataSet& nucleo = dm.TBL_NUCLEO;
    DataSet& anagrafica = dm.TBL_ANAGRAFICA;
    DataSet& staging = dm.TBL_EXPORT;
    const auto& columns = stagedColumns();

    QElapsedTimer clock;
    clock.start();
    RelaxedDurability relaxed(dm.cnQuaz.engine());

    staging.close();
    staging.open();
    if (timings)
        timings->reopenNs = clock.nsecsElapsed();

    staging.first();
    while (!staging.eof())
        staging.remove();
    if (timings)
        timings->emptyNs = clock.nsecsElapsed() - timings->reopenNs;

    // The columns are looked up by name once, not for every member.
    struct Copy {
        Field* from;
        Field* to;
    };
    std::array<Copy, 16> copies;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const StagedColumn& c = columns[i];
        const DataSet& from = c.source == StagingSource::FamilyUnit ? nucleo : anagrafica;
        copies[i] = {from.fieldByName(c.name), staging.fieldByName(c.name)};
    }
    const Field* familyCode = nucleo.fieldByName(kCodiceNucleo);
    const Field* memberCode = anagrafica.fieldByName(kCodiceNucleo);

    nucleo.first();
    anagrafica.first();
    int staged = 0;
    while (!nucleo.eof()) {
        // The member table follows the family unit: a new family code puts it
        // on the first member of that code; the same code as before leaves it
        // where it stands, at its end.
        while (!anagrafica.eof()) {
            if (memberCode->value() == familyCode->value()) {
                staging.insert();
                for (const Copy& c : copies)
                    c.to->setValue(c.from->value());
                staging.post();
                ++staged;
            }
            anagrafica.next();
        }
        nucleo.next();
    }
    relaxed.restore();
    if (timings)
        timings->stageNs = clock.nsecsElapsed() - timings->reopenNs - timings->emptyNs;

    nucleo.first();
    anagrafica.first();
    return staged;
}

}  // namespace marvesa
