#pragma once

#include <QVariant>
#include <QVector>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "export/WorkbookWriter.h"

namespace marvesa {

// Runs another writer on a thread of its own, so that composing the
// workbook (its XML, its compression, the file) goes on while the caller
// reads the next rows from the database: the machine has two cores.
//
// The rows are handed over in batches through a short queue; the caller
// waits only when the writer falls that far behind, so memory stays bounded
// whatever the number of rows. The wrapped writer is used from the thread
// alone, from begin() to finish() or abandon(). An error of the wrapped
// writer is thrown to the caller at its next call.
//
// Rows may also be given as the values read from the database
// (writeValues): they are then turned into cells on the thread as well, by
// the converter given at construction.
class ThreadedWorkbookWriter : public WorkbookWriter {
public:
    using Converter = std::function<QVector<Cell>(const QVector<QVariant>& values)>;
    explicit ThreadedWorkbookWriter(WorkbookWriter& inner, Converter converter = nullptr);
    ~ThreadedWorkbookWriter() override;  // abandons what is not finished

    ThreadedWorkbookWriter(const ThreadedWorkbookWriter&) = delete;
    ThreadedWorkbookWriter& operator=(const ThreadedWorkbookWriter&) = delete;

    // Starts the thread and waits for the wrapped writer's begin(), so that
    // its failure (no folder for the file) is thrown here.
    void begin() override;
    void writeRow(const QVector<Cell>& cells) override;
    // A row as read: its cells are made on the thread by the converter.
    void writeValues(const QVector<QVariant>& values);
    // No row follows: the rows still queued are written, then the workbook
    // is completed on the thread while the caller goes on.
    void endRows();
    // Waits until every row given has been written, and throws the writer's
    // failure, if any (the workbook may still be completing).
    void waitForRows();
    QString finish() override;
    void abandon() override;
    // The wrapped writer's, as it was when its begin() ended.
    QString plannedFile() const override;

    // Rows per batch, batches the queue holds at most.
    static constexpr int BatchRows = 256;
    static constexpr int QueueBatches = 32;

private:
    void run();
    // One row as given: cells, or values still to be converted.
    struct Row {
        QVector<Cell> cells;
        QVector<QVariant> values;
    };
    void add(Row row);
    void push(bool last);
    void rethrowFailure();

    WorkbookWriter& m_inner;
    Converter m_converter;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<Row>> m_queue;
    std::vector<Row> m_batch;
    bool m_ended = false;        // no more rows will come
    bool m_abandoned = false;    // the caller gave up
    bool m_begun = false;        // the wrapped writer's begin() is over
    bool m_rowsWritten = false;  // every row given has been written
    bool m_done = false;         // the thread has finished its work
    std::exception_ptr m_failure;
    QString m_file;
    QString m_plannedFile;
};

}  // namespace marvesa
