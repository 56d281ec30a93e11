#include "Parallel.h"

#ifdef _WIN32
// Condition variables need Vista's API; the tool (unlike the setup) may use it.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>

#include "system/Handles.h"
#else
#include <pthread.h>
#include <unistd.h>
#endif

#include <utility>
#include <vector>

namespace qorpack {

#ifdef _WIN32
namespace {
struct MonitorImpl {
    CRITICAL_SECTION cs;
    CONDITION_VARIABLE cv;
};
struct ThreadStart {
    void (*fn)(void*);
    void* context;
};
DWORD WINAPI ThreadMain(LPVOID p) {
    ThreadStart* s = static_cast<ThreadStart*>(p);
    s->fn(s->context);
    return 0;
}
}  // namespace

Monitor::Monitor() {
    MonitorImpl* m = new MonitorImpl;
    InitializeCriticalSection(&m->cs);
    InitializeConditionVariable(&m->cv);
    impl_ = m;
}
Monitor::~Monitor() {
    MonitorImpl* m = static_cast<MonitorImpl*>(impl_);
    DeleteCriticalSection(&m->cs);
    delete m;
}
void Monitor::Lock() { EnterCriticalSection(&static_cast<MonitorImpl*>(impl_)->cs); }
void Monitor::Unlock() { LeaveCriticalSection(&static_cast<MonitorImpl*>(impl_)->cs); }
void Monitor::Wait() {
    MonitorImpl* m = static_cast<MonitorImpl*>(impl_);
    SleepConditionVariableCS(&m->cv, &m->cs, INFINITE);
}
void Monitor::NotifyAll() { WakeAllConditionVariable(&static_cast<MonitorImpl*>(impl_)->cv); }

int RunWithWorkers(int workers, void (*worker)(void*), void (*lead)(void*), void* context) {
    ThreadStart start = {worker, context};
    std::vector<Handle> threads;
    for (int i = 0; i < workers; ++i) {
        Handle h(CreateThread(nullptr, 0, ThreadMain, &start, 0, nullptr));
        if (h) threads.push_back(std::move(h));
    }
    lead(context);
    for (const Handle& h : threads) WaitForSingleObject(h.Get(), INFINITE);
    return static_cast<int>(threads.size());
}

int ProcessorCount() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors > 0 ? static_cast<int>(si.dwNumberOfProcessors) : 1;
}
#else
namespace {
struct MonitorImpl {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
};
struct ThreadStart {
    void (*fn)(void*);
    void* context;
};
void* ThreadMain(void* p) {
    ThreadStart* s = static_cast<ThreadStart*>(p);
    s->fn(s->context);
    return nullptr;
}
}  // namespace

Monitor::Monitor() {
    MonitorImpl* m = new MonitorImpl;
    pthread_mutex_init(&m->mutex, nullptr);
    pthread_cond_init(&m->cond, nullptr);
    impl_ = m;
}
Monitor::~Monitor() {
    MonitorImpl* m = static_cast<MonitorImpl*>(impl_);
    pthread_cond_destroy(&m->cond);
    pthread_mutex_destroy(&m->mutex);
    delete m;
}
void Monitor::Lock() { pthread_mutex_lock(&static_cast<MonitorImpl*>(impl_)->mutex); }
void Monitor::Unlock() { pthread_mutex_unlock(&static_cast<MonitorImpl*>(impl_)->mutex); }
void Monitor::Wait() {
    MonitorImpl* m = static_cast<MonitorImpl*>(impl_);
    pthread_cond_wait(&m->cond, &m->mutex);
}
void Monitor::NotifyAll() { pthread_cond_broadcast(&static_cast<MonitorImpl*>(impl_)->cond); }

int RunWithWorkers(int workers, void (*worker)(void*), void (*lead)(void*), void* context) {
    ThreadStart start = {worker, context};
    std::vector<pthread_t> threads;
    for (int i = 0; i < workers; ++i) {
        pthread_t t;
        if (pthread_create(&t, nullptr, ThreadMain, &start) == 0) threads.push_back(t);
    }
    lead(context);
    for (pthread_t t : threads) pthread_join(t, nullptr);
    return static_cast<int>(threads.size());
}

int ProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}
#endif

}  // namespace qorpack
