#include "model/StoreWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

struct StoreWorker::Queue {
    std::shared_ptr<ConnectionStore> store;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void(ConnectionStore&)>> calls;
    bool closed = false;
    bool threadStarted = false;

    void loop() {
        for (;;) {
            std::function<void(ConnectionStore&)> call;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return closed || !calls.empty(); });
                if (calls.empty())
                    return;
                call = std::move(calls.front());
                calls.pop_front();
            }
            call(*store);
        }
    }
};

StoreWorker::StoreWorker(std::shared_ptr<ConnectionStore> store)
    : m_queue(std::make_shared<Queue>()) {
    m_queue->store = std::move(store);
}

StoreWorker::~StoreWorker() {
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->closed = true; // calls already posted still run, in order
    }
    m_queue->wake.notify_all();
}

void StoreWorker::post(std::function<void(ConnectionStore&)> call) {
    bool start = false;
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->calls.push_back(std::move(call));
        start = !std::exchange(m_queue->threadStarted, true);
    }
    m_queue->wake.notify_all();
    if (!start)
        return;
    try {
        // The thread holds the queue (and the store) for as long as it runs.
        std::thread([queue = m_queue] { queue->loop(); }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: running the calls here is better than never.
        m_queue->closed = true;
        m_queue->loop();
        m_queue->closed = false;
        m_queue->threadStarted = false;
    }
}
