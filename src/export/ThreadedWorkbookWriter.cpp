#include "export/ThreadedWorkbookWriter.h"

#include <QFile>
#include <utility>

#include "data/base/Error.h"

namespace marvesa {

ThreadedWorkbookWriter::ThreadedWorkbookWriter(WorkbookWriter& inner, Converter converter)
    : m_inner(inner), m_converter(std::move(converter)) {}

ThreadedWorkbookWriter::~ThreadedWorkbookWriter() {
    abandon();
}

void ThreadedWorkbookWriter::begin() {
    if (m_thread.joinable())
        throw Error(QStringLiteral("Il foglio di calcolo è ancora in scrittura."));
    m_queue.clear();
    m_batch.clear();
    m_batch.reserve(BatchRows);
    m_ended = m_abandoned = m_begun = m_rowsWritten = m_done = false;
    m_failure = nullptr;
    m_file.clear();
    m_plannedFile.clear();
    m_thread = std::thread([this] { run(); });
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_begun || m_done; });
    }
    rethrowFailure();
}

void ThreadedWorkbookWriter::run() {
    bool begun = false;
    try {
        m_inner.begin();
        begun = true;
        QString planned = m_inner.plannedFile();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_plannedFile = std::move(planned);
            m_begun = true;
            m_changed.notify_all();
        }
        for (;;) {
            std::vector<Row> batch;
            bool last = false;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_abandoned || m_ended || !m_queue.empty(); });
                if (m_abandoned)
                    break;
                if (!m_queue.empty()) {
                    batch = std::move(m_queue.front());
                    m_queue.pop_front();
                    m_changed.notify_all();  // room in the queue again
                } else {
                    last = true;  // ended, and every batch written
                }
            }
            if (last) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_rowsWritten = true;
                    m_changed.notify_all();
                }
                QString file = m_inner.finish();
                std::lock_guard<std::mutex> lock(m_mutex);
                m_file = std::move(file);
                break;
            }
            for (const Row& row : batch)
                m_inner.writeRow(row.values.isEmpty() ? row.cells : m_converter(row.values));
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failure = std::current_exception();
    }
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        abandoned = m_abandoned || m_failure;
    }
    if (abandoned && begun)
        m_inner.abandon();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

void ThreadedWorkbookWriter::rethrowFailure() {
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        failure = m_failure;
    }
    if (!failure)
        return;
    if (m_thread.joinable())
        m_thread.join();
    std::rethrow_exception(failure);
}

void ThreadedWorkbookWriter::push(bool last) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_batch.empty()) {
        m_changed.wait(lock, [this] { return m_done || int(m_queue.size()) < QueueBatches; });
        if (!m_done)
            m_queue.push_back(std::move(m_batch));
        m_batch = {};
        m_batch.reserve(BatchRows);
    }
    if (last)
        m_ended = true;
    m_changed.notify_all();
}

void ThreadedWorkbookWriter::add(Row row) {
    if (!m_thread.joinable())
        throw Error(QStringLiteral("Nessun foglio di calcolo in scrittura."));
    m_batch.push_back(std::move(row));
    if (int(m_batch.size()) >= BatchRows) {
        push(false);
        rethrowFailure();
    }
}

void ThreadedWorkbookWriter::writeRow(const QVector<Cell>& cells) {
    add(Row{cells, {}});
}

void ThreadedWorkbookWriter::writeValues(const QVector<QVariant>& values) {
    if (!m_converter)
        throw Error(QStringLiteral("Nessuna conversione dei valori in celle."));
    // A copy that shares the texts: the caller may reuse its vector.
    add(Row{{}, QVector<QVariant>(values.cbegin(), values.cend())});
}

void ThreadedWorkbookWriter::endRows() {
    if (!m_thread.joinable())
        throw Error(QStringLiteral("Nessun foglio di calcolo in scrittura."));
    push(true);
}

void ThreadedWorkbookWriter::waitForRows() {
    if (!m_thread.joinable())
        throw Error(QStringLiteral("Nessun foglio di calcolo in scrittura."));
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_rowsWritten || m_done; });
    }
    rethrowFailure();
}

QString ThreadedWorkbookWriter::plannedFile() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plannedFile;
}

QString ThreadedWorkbookWriter::finish() {
    if (!m_thread.joinable())
        throw Error(QStringLiteral("Nessun foglio di calcolo in scrittura."));
    push(true);
    m_thread.join();
    rethrowFailure();
    return std::exchange(m_file, QString());
}

void ThreadedWorkbookWriter::abandon() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
        m_changed.notify_all();
    }
    m_thread.join();
    // A workbook completed just before the caller gave up goes as well.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file.isEmpty())
        QFile::remove(m_file);
    m_file.clear();
}

}  // namespace marvesa
