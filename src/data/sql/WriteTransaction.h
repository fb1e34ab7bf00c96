#pragma once

#include <QString>

namespace marvesa {

class Engine;

// A write transaction that is rolled back unless committed.
class WriteTransaction {
public:
    WriteTransaction(Engine& engine, const QString& lockTable);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    void commit();
    void rollback();

private:
    Engine* m_engine;
};

}  // namespace marvesa
