// The little threading the packaging tool needs, on both platforms: a monitor
// (a lock with one condition) and worker threads. The mingw toolchain of the
// Windows build has no std::thread, so Windows gets its own threads and
// condition variables underneath.
#pragma once

namespace qorpack {

class Monitor {
public:
    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    void Lock();
    void Unlock();
    // Atomically unlocks, waits for a NotifyAll, relocks. May wake spuriously.
    void Wait();
    void NotifyAll();

private:
    void* impl_;
};

class MonitorLock {
public:
    explicit MonitorLock(Monitor& m) : m_(m) { m_.Lock(); }
    ~MonitorLock() { m_.Unlock(); }
    MonitorLock(const MonitorLock&) = delete;
    MonitorLock& operator=(const MonitorLock&) = delete;

private:
    Monitor& m_;
};

// Starts `workers` threads running worker(context), runs lead(context) on the
// calling thread meanwhile, and returns once all have ended. Threads that
// cannot be started are simply missing: worker functions must share their
// work through the context, and lead must not wait for a particular worker
// (it may do the remaining work itself). Returns the number of workers started.
int RunWithWorkers(int workers, void (*worker)(void*), void (*lead)(void*), void* context);

// Number of processors (at least 1).
int ProcessorCount();

}  // namespace qorpack
