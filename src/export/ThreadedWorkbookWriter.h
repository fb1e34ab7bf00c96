#pragma once

#include <QVector>
#include <condition_variable>
#include <deque>
#include <exception>
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
class ThreadedWorkbookWriter : public WorkbookWriter {
public:
    explicit ThreadedWorkbookWriter(WorkbookWriter& inner);
    ~ThreadedWorkbookWriter() override;  // abandons what is not finished

    ThreadedWorkbookWriter(const ThreadedWorkbookWriter&) = delete;
    ThreadedWorkbookWriter& operator=(const ThreadedWorkbookWriter&) = delete;

    // Starts the thread and waits for the wrapped writer's begin(), so that
    // its failure (no folder for the file) is thrown here.
    void begin() override;
    void writeRow(const QVector<Cell>& cells) override;
    // No row follows: waits until every row has been written (throwing the
    // writer's failure, if any), then lets the workbook be completed on the
    // thread while the caller goes on; finish() waits for that.
    void endRows();
    QString finish() override;
    void abandon() override;

    // Rows per batch, batches the queue holds at most.
    static constexpr int BatchRows = 256;
    static constexpr int QueueBatches = 32;

private:
    void run();
    void push(bool last);
    void rethrowFailure();

    WorkbookWriter& m_inner;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<QVector<Cell>>> m_queue;
    std::vector<QVector<Cell>> m_batch;
    bool m_ended = false;      // no more rows will come
    bool m_abandoned = false;  // the caller gave up
    bool m_begun = false;      // the wrapped writer's begin() is over
    bool m_rowsWritten = false;  // every row given has been written
    bool m_done = false;       // the thread has finished its work
    std::exception_ptr m_failure;
    QString m_file;
};

}  // namespace marvesa
