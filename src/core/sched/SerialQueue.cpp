#include "core/sched/SerialQueue.h"

#include <pthread.h>

namespace corvane {

SerialQueue::SerialQueue(std::string name) : name_(std::move(name)) {
    thread_ = std::thread([this] { run(); });
    // Linux thread names hold 15 characters; keep the distinctive end ("video-queue").
    std::string shortName = name_.size() > 15 ? name_.substr(name_.size() - 15) : name_;
    pthread_setname_np(thread_.native_handle(), shortName.c_str());
}

SerialQueue::~SerialQueue() { stop(StopMode::Discard); }

bool SerialQueue::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void SerialQueue::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return tasks_.empty() && !busy_; });
}

void SerialQueue::stop(StopMode mode) {
    std::deque<Task> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (mode == StopMode::Discard) {
            discard_ = true;
            dropped.swap(tasks_);
        }
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty() || discard_) {
            if (stopping_) break;
            continue;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        busy_ = false;
        if (tasks_.empty()) idle_.notify_all();
    }
    busy_ = false;
    tasks_.clear();
    idle_.notify_all();
}

}  // namespace corvane
