#include "data/sql/WriteTransaction.h"

#include <utility>

#include "data/sql/Engine.h"

namespace marvesa {

WriteTransaction::WriteTransaction(Engine& engine, const QString& lockTable) : m_engine(&engine) {
    engine.beginWrite(lockTable);
}

WriteTransaction::~WriteTransaction() {
    rollback();
}

void WriteTransaction::commit() {
    if (Engine* engine = std::exchange(m_engine, nullptr))
        engine->commit();
}

void WriteTransaction::rollback() {
    if (Engine* engine = std::exchange(m_engine, nullptr))
        engine->rollback();
}

}  // namespace marvesa
