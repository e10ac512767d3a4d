#include "core/export/SaveWorker.h"

#include <pthread.h>

namespace corvane {

SaveWorker::SaveWorker(std::string name) : name_(std::move(name)), lane_(std::make_shared<Lane>()) {}

SaveWorker::~SaveWorker() {
    std::shared_ptr<Lane> lane;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        lane = std::move(lane_);
    }
    std::deque<Task> dropped;
    bool running;
    {
        std::lock_guard lock(lane->mutex);
        lane->stopping = true;
        dropped.swap(lane->tasks);
        running = lane->busy;
    }
    lane->wake.notify_all();
    if (!lane->thread.joinable()) return;
    if (running) {
        lane->thread.detach();  // it holds the lane and ends after its task
    } else {
        lane->thread.join();
    }
}

bool SaveWorker::post(Task task) {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;
    {
        std::lock_guard laneLock(lane_->mutex);
        lane_->tasks.push_back(std::move(task));
    }
    if (!lane_->thread.joinable()) {
        lane_->thread = std::thread([lane = lane_] { run(lane); });
        const std::string shortName = name_.size() > 15 ? name_.substr(name_.size() - 15) : name_;
        pthread_setname_np(lane_->thread.native_handle(), shortName.c_str());
    }
    lane_->wake.notify_one();
    return true;
}

bool SaveWorker::waitIdle(Duration timeout) {
    std::shared_ptr<Lane> lane;
    {
        std::lock_guard lock(mutex_);
        lane = lane_;
    }
    if (!lane) return true;
    std::unique_lock lock(lane->mutex);
    return lane->idle.wait_for(lock, timeout, [&] { return lane->tasks.empty() && !lane->busy; });
}

void SaveWorker::abandonRunning() {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    std::shared_ptr<Lane> old = lane_;
    auto fresh = std::make_shared<Lane>();
    {
        std::lock_guard oldLock(old->mutex);
        if (!old->busy) return;
        old->stopping = true;
        fresh->tasks.swap(old->tasks);
    }
    old->wake.notify_all();
    old->thread.detach();
    lane_ = fresh;
    if (!fresh->tasks.empty()) {
        fresh->thread = std::thread([lane = fresh] { run(lane); });
        fresh->wake.notify_one();
    }
}

void SaveWorker::run(const std::shared_ptr<Lane>& lane) {
    std::unique_lock lock(lane->mutex);
    for (;;) {
        lane->wake.wait(lock, [&] { return lane->stopping || !lane->tasks.empty(); });
        if (lane->tasks.empty()) break;  // stopping
        Task task = std::move(lane->tasks.front());
        lane->tasks.pop_front();
        lane->busy = true;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        lane->busy = false;
        if (lane->tasks.empty()) lane->idle.notify_all();
    }
    lane->busy = false;
    lane->idle.notify_all();
}

}  // namespace corvane
